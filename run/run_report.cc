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
// in an update never claims to have written what it did not; a run that
// only looks wrote nothing, whatever it counted.
std::string WrittenBefore(const CompressionRun& run) {
  if (run.options().look_only) return "Nothing was changed.";
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
  const bool look_only = run.options().look_only;
  if (run.total() == 0) {
    return std::string("Cancelled while looking for shortcuts. ") +
           (look_only ? "Nothing was changed." : "No shortcut was written.");
  }
  if (look_only) return "Cancelled. Nothing was changed.";
  std::string text = "Cancelled. " + std::to_string(run.written()) + " of " +
                     std::to_string(run.total()) + " shortcuts were written" +
                     UpToDate(run.up_to_date()) + ".";
  // Stopped while removing: what went is told too.
  if (run.removed() > 0) {
    text += " " + std::to_string(run.removed()) +
            (run.removed() == 1 ? " copy whose shortcut is gone was removed."
                                : " copies whose shortcuts are gone were "
                                  "removed.");
  }
  return text;
}

// Returns "1 copy" or "N copies".
std::string Copies(size_t count) {
  return std::to_string(count) + (count == 1 ? " copy" : " copies");
}

// Returns "1 copy whose shortcut is gone " or "N copies whose shortcuts are
// gone ".
std::string Gone(size_t count) {
  return Copies(count) + (count == 1 ? " whose shortcut is gone "
                                     : " whose shortcuts are gone ");
}

// Returns why a run asked to remove stale copies could remove none, or ""
// when its record let it.
std::string NothingRemoved(const CompressionRun& run) {
  switch (run.record_state()) {
    case RecordState::kKept:
      return "";
    case RecordState::kNone:
      return " Nothing was removed: the destination had no record of the "
             "copies Norvale wrote there.";
    case RecordState::kDamaged:
      return " Nothing was removed: Norvale's record of the copies it wrote "
             "there cannot be read whole.";
    case RecordState::kOtherSource:
      return " Nothing was removed: the destination's record is of another "
             "source folder.";
  }
  return "";
}

// The counts of a finished run, told after its first line: what it wrote,
// what it left, and what the destination holds whose shortcut is gone.
std::string Counts(const CompressionRun& run) {
  const bool look_only = run.options().look_only;
  std::string text = Copies(run.written()) +
                     (look_only ? " would be written, " : " written, ") +
                     std::to_string(run.up_to_date()) + " up to date already.";
  const size_t stale = run.stale(), removed = run.removed(),
               unrecorded = run.unrecorded();
  if (run.options().remove_stale) {
    if (removed > 0) {
      text += " " + Gone(removed) +
              (look_only      ? "would be removed."
               : removed == 1 ? "was removed."
                              : "were removed.");
    }
    if (stale > removed) {
      const size_t kept = stale - removed;
      text += " " + Gone(kept) + (kept == 1 ? "is" : "are") +
              " read-only and " +
              (look_only   ? "would be kept."
               : kept == 1 ? "was kept."
                           : "were kept.");
    }
    // Said only where something was kept for it.
    if (unrecorded > 0) text += NothingRemoved(run);
  } else if (stale > 0) {
    text += " " + Copies(stale) + " in the destination no longer " +
            (stale == 1 ? "has" : "have") + " a shortcut; " +
            (look_only ? "--delete would remove "
                       : "Norvale --run --delete removes ") +
            (stale == 1 ? "it." : "them.");
  }
  if (unrecorded > 0) {
    // Norvale cannot tell them from a user's own files of the same form.
    text += " " + Gone(unrecorded) + (unrecorded == 1 ? "is" : "are") +
            " not in Norvale's record of what it wrote, so --delete " +
            (run.options().remove_stale && !look_only ? "kept " : "keeps ") +
            (unrecorded == 1 ? "it." : "them.");
  }
  const size_t online_only = run.online_only();
  if (online_only > 0) {
    // Kept on this computer, they are read like any other.
    const char* them = online_only == 1 ? "it" : "them";
    text += " " + Copies(online_only) + " could not be checked: " +
            (online_only == 1 ? "it is" : "they are") +
            " online only, and reading " + them + " would download " + them +
            ". To let Norvale check " + them +
            ", choose \"Always keep on this device\" for the destination "
            "folder in Explorer.";
  }
  return text;
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
    const std::string first =
        run.options().look_only
            ? "Dry run of " + std::to_string(count) +
                  " favorites: nothing was changed."
            : "Compressed " + std::to_string(count) + " favorites.";
    return {run.online_only() > 0 ? Message::Icon::kWarning
                                  : Message::Icon::kInformation,
            "Finished", first + "\n\n" + Counts(run)};
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
