// Shows how a long compression run goes, and lets the user stop it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_H_
#define NORVALE_WINDOW_RUN_PROGRESS_H_

#include <QPointer>
#include <QProgressDialog>
#include <chrono>

#include "run/progress_report.h"

class QWidget;

// Draws what the run's progress report shows in a modal dialog with Cancel,
// letting the event loop run each time it does.
class RunProgress : public norvale::ProgressReport {
 public:
  explicit RunProgress(
      QWidget *parent,
      std::chrono::milliseconds showAfter = std::chrono::milliseconds(500),
      std::chrono::milliseconds showEvery = std::chrono::milliseconds(50));
  ~RunProgress() override;

  // Returns the dialog once it has been shown, else null.
  QProgressDialog *dialog() const { return m_dialog; }

 protected:
  bool Show(const View &view) override;

 private:
  QWidget *m_parent;
  QPointer<QProgressDialog> m_dialog;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_H_
