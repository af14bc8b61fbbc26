#include "run/run_record.h"

#include <system_error>
#include <utility>

#include "run/stale_copies.h"
#include "services/error.h"
#include "services/file_work.h"
#include "services/folder_io.h"

namespace norvale {

namespace fs = std::filesystem;

RunRecord::RunRecord(fs::path source, fs::path destination,
                     Native destination_text, bool holds_source, bool look_only,
                     FileWork& work)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      destination_text_(std::move(destination_text)) {
  std::error_code ec;
  live_.source = fs::canonical(source_, ec);
  if (holds_source || ec) return;
  path_ = fs::path(destination_text_ + kRecordName);
  bool unusable = false;
  if (KindOf(path_.parent_path(), ec) == FileKind::kFolder) {
    try {
      if (std::optional<ExistingCopy> existing =
              work.ReadExistingCopy(path_, true)) {
        text_ = std::move(existing->content);
        record_ = ParseRecord(*text_);
      }
    } catch (const Error&) {
      // Something other than a regular file stands at its name, which is
      // neither proof of anything nor Norvale's to replace.
      unusable = true;
    }
  }
  if (unusable || (text_ && !record_)) {
    state_ = RecordState::kDamaged;
  } else if (record_ && record_->source != live_.source) {
    state_ = RecordState::kOtherSource;
  } else if (record_) {
    state_ = RecordState::kKept;
    read_ = &*record_;
  }
  keep_ = !unusable && !look_only;
}

void RunRecord::Add(const Native& relative, const RecordedCopy& copy) {
  if (!keep_) return;
  // The list is sorted, so each copy goes at the end.
  live_.copies.emplace_hint(live_.copies.end(), relative, copy);
}

void RunRecord::Write(const CopyRecord* still, FileWork& work) {
  if (!keep_ || StaleCopies::InsideSource(source_, destination_, work)) {
    return;
  }
  CopyRecord next = std::move(live_);
  if (still != nullptr) {
    next.copies.insert(still->copies.begin(), still->copies.end());
    next.folders = still->folders;
  }
  const Native& below = destination_text_;
  for (const Native& folder : work.folders_made()) {
    if (folder.size() > below.size() &&
        folder.compare(0, below.size(), below) == 0) {
      next.folders.insert(folder.substr(below.size()));
    }
  }
  // A destination that holds no copy of Norvale's gets no record either.
  if (!text_ && next.copies.empty() && next.folders.empty()) return;
  std::string text = ComposeRecord(next);
  if (text_ == text) return;
  if (text_) {
    work.ReplaceFile(path_, text, *text_);
  } else if (!work.WriteNewFile(path_, text, 0600)) {
    throw Error("Could not write", path_,
                "It changed while Norvale was writing it");
  }
  work.HideFile(path_);
  text_ = std::move(text);
  written_ = true;
}

}  // namespace norvale
