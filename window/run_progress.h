// Shows how a long compression run goes, and lets the user stop it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_H_
#define NORVALE_WINDOW_RUN_PROGRESS_H_

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

#include "run/compression_run.h"

class QWidget;

// Runs on the window's thread inside the run. A short run sees nothing: the
// modal dialog appears only once the run has taken `showAfterMs`, and from
// then on the event loop gets to paint and take the Cancel press at most
// every `paintEveryMs`, never once per file.
class RunProgress : public norvale::RunObserver {
 public:
  explicit RunProgress(QWidget *parent, int showAfterMs = 500,
                       int paintEveryMs = 50);
  ~RunProgress() override;

  bool Searching(size_t looked_at, size_t found) override;
  bool Compressing(size_t done, size_t total) override;
  void Flushing() override;

  // Returns the dialog once it has been shown, else null.
  QProgressDialog *dialog() const { return m_dialog; }

 private:
  // Returns false when it is not yet time to show or paint.
  bool due();
  // Shows the dialog if needed, then lets the event loop run once; returns
  // false when the user has pressed Cancel.
  bool update(const QString &label, int maximum, int value);

  QWidget *m_parent;
  int m_showAfterMs;
  int m_paintEveryMs;
  QElapsedTimer m_clock;
  qint64 m_lastPaint = 0;
  QPointer<QProgressDialog> m_dialog;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_H_
