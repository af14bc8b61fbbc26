#include "window/run_progress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QString>

namespace {

// A progress dialog that can be kept from being cancelled: while the copies
// are flushed, neither Cancel, nor Escape, nor the close box may hide it
// as if the run had stopped.
class ProgressDialog : public QProgressDialog {
 public:
  explicit ProgressDialog(QWidget *parent) : QProgressDialog(parent) {
    setCancelButton(m_cancel = new QPushButton(tr("Cancel"), this));
  }

  void setCancellable(bool cancellable) {
    m_cancellable = cancellable;
    m_cancel->setEnabled(cancellable);
    // Escape is the dialog's own shortcut for Cancel.
    for (QShortcut *shortcut : findChildren<QShortcut *>())
      shortcut->setEnabled(cancellable);
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    if (m_cancellable)
      QProgressDialog::closeEvent(event);
    else
      event->ignore();
  }
  void reject() override {
    if (m_cancellable) QProgressDialog::reject();
  }

 private:
  QPushButton *m_cancel;
  bool m_cancellable = true;
};

}  // namespace

RunProgress::RunProgress(QWidget *parent, std::chrono::milliseconds showAfter,
                         std::chrono::milliseconds showEvery)
    : norvale::ProgressReport(showAfter, showEvery), m_parent(parent) {}

RunProgress::~RunProgress() { delete m_dialog; }

bool RunProgress::Show(const View &view) {
  if (!m_dialog) {
    m_dialog = new ProgressDialog(m_parent);
    m_dialog->setWindowTitle(QStringLiteral("Norvale"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setMinimumWidth(320);
  }
  static_cast<ProgressDialog *>(m_dialog.data())
      ->setCancellable(view.cancellable);
  m_dialog->setLabelText(QString::fromStdString(view.label));
  m_dialog->setRange(0, view.maximum);
  m_dialog->setValue(view.value);
  if (!m_dialog->isVisible()) m_dialog->show();
  QApplication::processEvents();
  return !m_dialog->wasCanceled();
}
