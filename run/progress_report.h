// How a long run's progress is paced and worded, the same in every front
// end; each draws it with its own toolkit.
#ifndef NORVALE_RUN_PROGRESS_REPORT_H_
#define NORVALE_RUN_PROGRESS_REPORT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "run/compression_run.h"

namespace norvale {

// Runs on the window's thread inside the run. A short run sees nothing: the
// progress is first shown once the run has taken `show_after`, and from then
// on at most every `show_every`, never once per file, so that a run of many
// small files spends its time on them.
class ProgressReport : public RunObserver {
 public:
  // What to show: a label, and a bar at `value` of `maximum`; a `maximum`
  // of 0 shows a bar that only tells that work goes on. Once the copies
  // are being flushed the run can no longer stop, so nothing may offer to.
  struct View {
    std::string label;
    int maximum = 0;
    int value = 0;
    bool cancellable = true;
  };
  using Clock = std::function<std::chrono::milliseconds()>;

  // `clock` tells the time; the steady clock unless a test gives its own.
  explicit ProgressReport(
      std::chrono::milliseconds show_after = std::chrono::milliseconds(500),
      std::chrono::milliseconds show_every = std::chrono::milliseconds(50),
      Clock clock = nullptr);

  bool Searching(size_t looked_at, size_t found) final;
  bool Compressing(size_t done, size_t total) final;
  void Flushing() final;

 protected:
  // Shows `view` and lets the user act; returns false once the user has
  // asked the run to stop.
  virtual bool Show(const View& view) = 0;

 private:
  // Returns true when it is time to show the progress again.
  bool Due();

  Clock clock_;
  std::chrono::milliseconds show_after_;
  std::chrono::milliseconds show_every_;
  std::chrono::milliseconds start_;
  std::chrono::milliseconds last_shown_{0};
  bool shown_ = false;
};

// Returns what to show while the search has looked at `looked_at` files and
// folders and found `found` shortcuts.
ProgressReport::View SearchingView(size_t looked_at, size_t found);
// Returns what to show once `done` of `total` shortcuts are written.
ProgressReport::View CompressingView(size_t done, size_t total);
// Returns what to show while the copies are flushed, which cannot stop.
ProgressReport::View FlushingView();

}  // namespace norvale

#endif  // NORVALE_RUN_PROGRESS_REPORT_H_
