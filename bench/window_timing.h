// Timing the window's run where users see it: from the key press on "Do it
// now" to the "Finished" message.
#ifndef NORVALE_BENCH_WINDOW_TIMING_H_
#define NORVALE_BENCH_WINDOW_TIMING_H_

#include <filesystem>
#include <string>

namespace norvale_bench {

// Starts `norvale` with `source` and `destination` on an X display of its
// own (Xvfb), presses "Do it now" from the keyboard once the window shows,
// and returns the seconds until the "Finished" message is mapped. Throws
// std::runtime_error when the display or a window does not come.
double TimeWindowRun(const std::string& norvale,
                     const std::filesystem::path& source,
                     const std::filesystem::path& destination);

}  // namespace norvale_bench

#endif  // NORVALE_BENCH_WINDOW_TIMING_H_
