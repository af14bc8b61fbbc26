// Shows how a run without a window goes, on one line of a terminal that
// rewrites itself.
#ifndef NORVALE_TERMINAL_TERMINAL_PROGRESS_H_
#define NORVALE_TERMINAL_TERMINAL_PROGRESS_H_

#include <chrono>
#include <cstddef>

#include "run/progress_report.h"
#include "terminal/console.h"

namespace norvale {

// Draws what the run's progress report shows on `console`, a terminal:
// from the start, as a line costs nothing to show, then at most every
// 50 ms. Returns false once Ctrl+C has been pressed.
class TerminalProgress : public ProgressReport {
 public:
  explicit TerminalProgress(Console& console);
  ~TerminalProgress() override { Clear(); }

  // Rubs the progress line out, so the next text starts on a clean line.
  void Clear();

 protected:
  bool Show(const View& view) override;

 private:
  Console& console_;
  size_t shown_ = 0;  // characters of the line on the terminal
};

}  // namespace norvale

#endif  // NORVALE_TERMINAL_TERMINAL_PROGRESS_H_
