// Shows how a long compression run goes, and lets the user stop it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_H_
#define NORVALE_WINDOW_RUN_PROGRESS_H_

#include <QPointer>
#include <QProgressDialog>
#include <functional>

#include "run/progress_report.h"

class QWidget;

// Draws what a run on its own thread shows, in a modal dialog with Cancel;
// the run goes on meanwhile, so drawing never waits for it.
class RunProgress {
 public:
  // `cancel` is called when the user asks the run to stop.
  RunProgress(QWidget *parent, std::function<void()> cancel);
  ~RunProgress();
  RunProgress(const RunProgress &) = delete;
  RunProgress &operator=(const RunProgress &) = delete;

  // Shows `view`, opening the dialog the first time.
  void Show(const norvale::ProgressReport::View &view);

 private:
  QWidget *parent_;
  std::function<void()> cancel_;
  QPointer<QProgressDialog> dialog_;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_H_
