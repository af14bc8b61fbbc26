#include "window/run_progress.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QString>
#include <utility>

namespace {

// A progress dialog that stays up until the run has ended: Cancel, Escape
// and the close box ask the run to stop, which may take until a disk
// answers, and while the copies are flushed they do nothing at all.
class ProgressDialog : public QProgressDialog {
 public:
  ProgressDialog(QWidget *parent, std::function<void()> cancel)
      : QProgressDialog(parent), m_cancel(std::move(cancel)) {
    setCancelButton(m_button = new QPushButton(tr("Cancel"), this));
    // The dialog would hide itself as if the run had stopped.
    disconnect(this, &QProgressDialog::canceled, this, nullptr);
    connect(this, &QProgressDialog::canceled, this, [this] { stop(); });
  }

  void setCancellable(bool cancellable) {
    m_cancellable = cancellable;
    m_button->setEnabled(cancellable);
    // Escape is the dialog's own shortcut for Cancel.
    for (QShortcut *shortcut : findChildren<QShortcut *>())
      shortcut->setEnabled(cancellable);
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    event->ignore();
    stop();
  }
  void reject() override { stop(); }

 private:
  void stop() {
    if (m_cancellable) m_cancel();
  }

  std::function<void()> m_cancel;
  QPushButton *m_button;
  bool m_cancellable = true;
};

}  // namespace

RunProgress::RunProgress(QWidget *parent, std::function<void()> cancel)
    : m_parent(parent), m_cancel(std::move(cancel)) {}

RunProgress::~RunProgress() { delete m_dialog; }

void RunProgress::show(const norvale::ProgressReport::View &view) {
  if (!m_dialog) {
    m_dialog = new ProgressDialog(m_parent, m_cancel);
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
}
