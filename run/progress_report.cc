#include "run/progress_report.h"

#include <limits>
#include <utility>

namespace norvale {
namespace {

using std::chrono::milliseconds;

// Bars count in int; a larger tree is shown to scale.
int Fitting(size_t value, size_t total) {
  constexpr size_t kMax = std::numeric_limits<int>::max();
  if (total <= kMax) return static_cast<int>(value);
  return static_cast<int>(static_cast<double>(value) / total * kMax);
}

}  // namespace

ProgressReport::ProgressReport(milliseconds show_after, milliseconds show_every,
                               Clock clock)
    : clock_(std::move(clock)),
      show_after_(show_after),
      show_every_(show_every) {
  if (!clock_) {
    clock_ = [] {
      return std::chrono::duration_cast<milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch());
    };
  }
  start_ = clock_();
}

bool ProgressReport::Due() {
  const milliseconds now = clock_() - start_;
  if (now < show_after_) return false;
  if (shown_ && now - last_shown_ < show_every_) return false;
  shown_ = true;
  last_shown_ = now;
  return true;
}

bool ProgressReport::Searching(size_t looked_at, size_t found) {
  return !Due() || Show(SearchingView(looked_at, found));
}

bool ProgressReport::Compressing(size_t done, size_t total) {
  return !Due() || Show(CompressingView(done, total));
}

void ProgressReport::Flushing() {
  if (Due()) Show(FlushingView());
}

ProgressReport::View SearchingView(size_t looked_at, size_t found) {
  return {"Looking for shortcuts...\n" + std::to_string(found) + " found in " +
              std::to_string(looked_at) + " files and folders so far",
          0, 0};
}

ProgressReport::View CompressingView(size_t done, size_t total) {
  return {"Compressing favorites...\n" + std::to_string(done) + " of " +
              std::to_string(total),
          Fitting(total, total), Fitting(done, total)};
}

ProgressReport::View FlushingView() {
  // The copies are written by now; Cancel could change nothing.
  return {"Saving the copies to the disk...", 0, 0, false};
}

}  // namespace norvale
