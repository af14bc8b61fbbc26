// A compression run on a thread of its own, and what a window shows of it.
#ifndef NORVALE_RUN_BACKGROUND_RUN_H_
#define NORVALE_RUN_BACKGROUND_RUN_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "run/progress_report.h"
#include "run/run_report.h"

namespace norvale {

// The window's thread only asks how the run goes and draws that, so a call
// that blocks (a FUSE daemon that stalls, a network share that stops
// answering, a file fetched from the cloud) never freezes the window, and
// Cancel is taken at once, to stop the run at its next shortcut. Both
// windows use it alike; each only draws.
class BackgroundRun {
 public:
  using View = ProgressReport::View;

  // Starts a run from `source` to `destination` at once. `ended` is called
  // on the run's thread when the run has ended, for the window to wake up;
  // it must only post itself a message.
  BackgroundRun(
      std::filesystem::path source, std::filesystem::path destination,
      std::function<void()> ended,
      std::chrono::milliseconds show_after = std::chrono::milliseconds(500));
  // Waits for the run to end.
  ~BackgroundRun();
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  // Returns what to show now: nothing while the run is short yet (it has
  // taken less than `show_after`) or once it has ended.
  std::optional<View> Now() const;

  // Asks the run to stop at its next shortcut; does nothing once its copies
  // are being flushed, which cannot be stopped.
  void Cancel();

  // Returns true once the run has ended.
  bool ended() const { return ended_; }

  // Returns what to tell the user of the run; only once it has ended.
  const Message& outcome() const { return outcome_; }

 private:
  enum Stage : int { kSearching, kCompressing, kFlushing };

  // Keeps what the run tells, for the window's thread to read; it is told
  // of every file, so it only stores numbers, worded when they are shown.
  class Observer : public RunObserver {
   public:
    explicit Observer(BackgroundRun& owner) : owner_(owner) {}
    bool Searching(size_t looked_at, size_t found) override;
    bool Compressing(size_t done, size_t total) override;
    void Flushing() override;

   private:
    BackgroundRun& owner_;
  };

  std::chrono::steady_clock::time_point start_;
  std::chrono::milliseconds show_after_;
  // What the run last told: its stage and two numbers of it (files looked
  // at and shortcuts found, or shortcuts done and in all).
  std::atomic<int> stage_{kSearching};
  std::atomic<size_t> first_{0}, second_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> ended_{false};
  Message outcome_;
  Observer observer_{*this};
  std::thread thread_;
};

}  // namespace norvale

#endif  // NORVALE_RUN_BACKGROUND_RUN_H_
