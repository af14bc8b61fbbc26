#include "run/progress_report.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace norvale {
namespace {

using std::chrono::milliseconds;

// Keeps what a front end is asked to show, and when, on the clock `now`
// the test moves.
struct Recorder : ProgressReport {
  explicit Recorder(const milliseconds& now)
      : ProgressReport(milliseconds(500), milliseconds(50),
                       [&now] { return now; }),
        now(now) {}
  bool Show(const View& view) override {
    shown.emplace_back(now, view);
    return true;
  }
  const milliseconds& now;
  std::vector<std::pair<milliseconds, View>> shown;
};

// A run of thousands of files told of every one, a millisecond apart: nothing
// shows for the first half second, then about every 50 ms, each time with
// the numbers of that moment.
TEST(ProgressReportTest, ShowsALongRunAboutEvery50Milliseconds) {
  milliseconds now(0);
  Recorder progress(now);
  const size_t total = 3000;
  for (size_t i = 0; i < 2 * total; ++i, now += milliseconds(1)) {
    EXPECT_TRUE(i < total ? progress.Searching(i + 1, i / 2)
                          : progress.Compressing(i - total, total));
  }
  progress.Flushing();
  ASSERT_GE(progress.shown.size(), 100u);
  EXPECT_EQ(progress.shown.front().first, milliseconds(500));
  for (size_t i = 1; i < progress.shown.size(); ++i) {
    const auto& [at, view] = progress.shown[i];
    EXPECT_EQ(at - progress.shown[i - 1].first, milliseconds(50));
    const size_t tick = static_cast<size_t>(at.count()), done = tick - total;
    EXPECT_EQ(view.cancellable, tick < 2 * total);
    if (tick < total) {
      EXPECT_EQ(view.label, "Looking for shortcuts...\n" +
                                std::to_string(tick / 2) + " found in " +
                                std::to_string(tick + 1) +
                                " files and folders so far");
    } else if (tick < 2 * total) {
      EXPECT_EQ(view.label, "Compressing favorites...\n" +
                                std::to_string(done) + " of " +
                                std::to_string(total));
      EXPECT_EQ(view.value, static_cast<int>(done));
      EXPECT_EQ(view.maximum, static_cast<int>(total));
    } else {
      EXPECT_EQ(view.label, "Saving the copies to the disk...");
    }
  }
}

}  // namespace
}  // namespace norvale
