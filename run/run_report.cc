#include "run/run_report.h"

#include <exception>

namespace norvale {
namespace {

// Returns how many copies were found exact and left as they were, as the
// end of a sentence, or "" for none.
std::string UpToDate(size_t count) {
  if (count == 0) return "";
  return "; " + std::to_string(count) + (count == 1 ? " was" : " were") +
         " up to date already";
}

// Copies left as they were are not written, so that a run stopped early
// in an update never claims to have written what it did not.
std::string WrittenBefore(const CompressionRun& run) {
  const size_t written = run.written(), up_to_date = run.up_to_date();
  const std::string of = " of " + std::to_string(run.total());
  if (written == 0 && up_to_date == 0) return "No shortcut was written.";
  if (written == 0) {
    return "No copy was written before this; " + std::to_string(up_to_date) +
           of + (up_to_date == 1 ? " was" : " were") + " up to date already.";
  }
  return std::to_string(written) + of + " shortcuts were written before this" +
         UpToDate(up_to_date) + ".";
}

std::string Cancelled(const CompressionRun& run) {
  if (run.total() == 0) {
    return "Cancelled while looking for shortcuts. No shortcut was written.";
  }
  return "Cancelled. " + std::to_string(run.written()) + " of " +
         std::to_string(run.total()) + " shortcuts were written" +
         UpToDate(run.up_to_date()) + ".";
}

}  // namespace

Message RunAndReport(CompressionRun& run) {
  std::string failure;
  try {
    const size_t count = run.Run();
    if (run.cancelled()) {
      return {Message::Icon::kInformation, "Norvale", Cancelled(run)};
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
          failure + "\n\n" + WrittenBefore(run)};
}

}  // namespace norvale
