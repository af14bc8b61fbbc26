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
      : QProgressDialog(parent), cancel_(std::move(cancel)) {
    setCancelButton(button_ = new QPushButton(tr("Cancel"), this));
    // The dialog would hide itself as if the run had stopped.
    disconnect(this, &QProgressDialog::canceled, this, nullptr);
    connect(this, &QProgressDialog::canceled, this, [this] { Stop(); });
  }

  void SetCancellable(bool cancellable) {
    cancellable_ = cancellable;
    button_->setEnabled(cancellable);
    // Escape is the dialog's own shortcut for Cancel.
    for (QShortcut *shortcut : findChildren<QShortcut *>())
      shortcut->setEnabled(cancellable);
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    event->ignore();
    Stop();
  }
  void reject() override { Stop(); }

 private:
  void Stop() {
    if (cancellable_) cancel_();
  }

  std::function<void()> cancel_;
  QPushButton *button_;
  bool cancellable_ = true;
};

}  // namespace

RunProgress::RunProgress(QWidget *parent, std::function<void()> cancel)
    : parent_(parent), cancel_(std::move(cancel)) {}

RunProgress::~RunProgress() { delete dialog_; }

void RunProgress::Show(const norvale::ProgressReport::View &view) {
  if (!dialog_) {
    dialog_ = new ProgressDialog(parent_, cancel_);
    dialog_->setWindowTitle(QStringLiteral("Norvale"));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    dialog_->setMinimumWidth(320);
  }
  static_cast<ProgressDialog *>(dialog_.data())
      ->SetCancellable(view.cancellable);
  dialog_->setLabelText(QString::fromStdString(view.label));
  dialog_->setRange(0, view.maximum);
  dialog_->setValue(view.value);
  if (!dialog_->isVisible()) dialog_->show();
}
