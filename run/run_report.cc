#include "run/run_report.h"

#include <exception>

namespace norvale {
namespace {

std::string WrittenBefore(size_t done, size_t total) {
  if (done == 0) return "No shortcut was written.";
  return std::to_string(done) + " of " + std::to_string(total) +
         " shortcuts were written before this.";
}

std::string Cancelled(size_t done, size_t total) {
  if (total == 0) {
    return "Cancelled while looking for shortcuts. No shortcut was written.";
  }
  return "Cancelled. " + std::to_string(done) + " of " + std::to_string(total) +
         " shortcuts were written.";
}

}  // namespace

Message RunAndReport(CompressionRun& run) {
  std::string failure;
  try {
    const size_t count = run.Run();
    if (run.cancelled()) {
      return {Message::Icon::kInformation, "Norvale",
              Cancelled(run.done(), run.total())};
    }
    // Always "favorites", also for one.
    return {Message::Icon::kInformation, "Finished",
            "Compressed " + std::to_string(count) + " favorites."};
  } catch (const std::exception& error) {
    // An Error names the path and the reason; anything else, such as
    // running out of memory, is at least not kept from the user.
    failure = error.what();
  } catch (...) {
    failure = "The run failed.";
  }
  return {Message::Icon::kError, "Norvale",
          failure + "\n\n" + WrittenBefore(run.done(), run.total())};
}

}  // namespace norvale
