#include "window/run_progress.h"

#include <QApplication>
#include <QString>

RunProgress::RunProgress(QWidget *parent, std::chrono::milliseconds showAfter,
                         std::chrono::milliseconds showEvery)
    : norvale::ProgressReport(showAfter, showEvery), m_parent(parent) {}

RunProgress::~RunProgress() { delete m_dialog; }

bool RunProgress::Show(const View &view) {
  if (!m_dialog) {
    m_dialog = new QProgressDialog(m_parent);
    m_dialog->setWindowTitle(QStringLiteral("Norvale"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setMinimumWidth(320);
  }
  m_dialog->setLabelText(QString::fromStdString(view.label));
  m_dialog->setRange(0, view.maximum);
  m_dialog->setValue(view.value);
  if (!m_dialog->isVisible()) m_dialog->show();
  QApplication::processEvents();
  return !m_dialog->wasCanceled();
}
