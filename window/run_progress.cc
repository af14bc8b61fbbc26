#include "window/run_progress.h"

#include <QApplication>
#include <limits>

namespace {

// Progress bars count in int; a larger tree is shown to scale.
int fitting(size_t value, size_t total) {
  constexpr size_t kMax = std::numeric_limits<int>::max();
  if (total <= kMax) return static_cast<int>(value);
  return static_cast<int>(static_cast<double>(value) / total * kMax);
}

}  // namespace

RunProgress::RunProgress(QWidget *parent, int showAfterMs, int paintEveryMs)
    : m_parent(parent),
      m_showAfterMs(showAfterMs),
      m_paintEveryMs(paintEveryMs) {
  m_clock.start();
}

RunProgress::~RunProgress() { delete m_dialog; }

bool RunProgress::due() {
  const qint64 now = m_clock.elapsed();
  if (now < m_showAfterMs) return false;
  if (m_dialog && now - m_lastPaint < m_paintEveryMs) return false;
  m_lastPaint = now;
  return true;
}

bool RunProgress::update(const QString &label, int maximum, int value) {
  if (!m_dialog) {
    m_dialog = new QProgressDialog(m_parent);
    m_dialog->setWindowTitle(QObject::tr("Norvale"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setMinimumWidth(320);
  }
  m_dialog->setLabelText(label);
  m_dialog->setRange(0, maximum);
  m_dialog->setValue(value);
  if (!m_dialog->isVisible()) m_dialog->show();
  QApplication::processEvents();
  return !m_dialog->wasCanceled();
}

bool RunProgress::Searching(size_t /*looked_at*/, size_t found) {
  if (!due()) return true;
  // A range of 0 to 0 shows a busy bar: the total is not known yet.
  return update(
      QObject::tr("Looking for shortcuts...\n%1 found so far").arg(found), 0,
      0);
}

bool RunProgress::Compressing(size_t done, size_t total) {
  if (!due()) return true;
  return update(
      QObject::tr("Compressing favorites...\n%1 of %2").arg(done).arg(total),
      fitting(total, total), fitting(done, total));
}

void RunProgress::Flushing() {
  if (!due()) return;
  // Every copy is written by now; a press of Cancel changes nothing.
  update(QObject::tr("Saving the copies to the disk..."), 0, 0);
}
