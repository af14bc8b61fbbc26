// Running a command as a child process and timing it, for the benchmark.
#ifndef NORVALE_BENCH_CHILD_H_
#define NORVALE_BENCH_CHILD_H_

#include <stdexcept>
#include <string>
#include <vector>

namespace norvale_bench {

struct Measure {
  double seconds = 0;
  long peak_kib = 0;
};

// A child that failed; the trees made so far are removed before the
// benchmark ends.
struct ChildFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Runs `argv` as a child process and waits for it; returns its wall time and
// peak memory. Throws ChildFailed when it cannot start or does not succeed.
Measure RunChild(const std::vector<std::string>& argv);

// Runs `command` with the shell, its output discarded; returns whether it
// succeeded.
bool Shell(const std::string& command);

// Returns the median of `values`, which must not be empty.
double Median(std::vector<double> values);

}  // namespace norvale_bench

#endif  // NORVALE_BENCH_CHILD_H_
