#include "run/stale_copies.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "ini/shortcut.h"
#include "services/error.h"
#include "services/file_work.h"
#include "services/folder_io.h"
#include "services/shell_tools.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
constexpr fs::path::value_type kSeparator = fs::path::preferred_separator;

// Returns the folder `text`, which ends in a separator, as a path to open:
// without that separator unless it is a root ("/", "C:\"), which needs it.
fs::path Openable(const Native& text) {
  if (text.size() <= 1 || (text.size() == 3 && text[1] == ':')) return text;
  return fs::path(Native(text, 0, text.size() - 1));
}

// Returns the folder part of the path `text`, ending in its separator.
Native FolderOf(const Native& text) {
  size_t at = text.size();
  while (at > 0 && !IsSeparator(text[at - 1])) --at;
  return Native(text, 0, at);
}

}  // namespace

StaleCopies::StaleCopies(fs::path source, Native destination,
                         const PathList& shortcuts, FileWork& work,
                         const CopyRecord* record)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      shortcuts_(shortcuts),
      source_text_(source_.native()),
      work_(work),
      record_(record) {
  // As the search put it in front of every shortcut.
  if (source_text_.empty() || source_text_.back() != kSeparator) {
    source_text_ += kSeparator;
  }
}

bool StaleCopies::IsListed(const Native& path) const {
  // A copy is at the shortcut's place below the destination, so the same
  // text below the source names the shortcut.
  return path.compare(0, destination_.size(), destination_) == 0 &&
         shortcuts_.Contains(source_text_ + path.substr(destination_.size()));
}

bool StaleCopies::IsWithin(const fs::path& inner, const fs::path& outer,
                           FileWork& work) {
  const std::optional<FileId> outer_id = work.IdentifyFile(outer);
  if (!outer_id) return false;
  std::error_code ec;
  fs::path folder = fs::canonical(inner, ec);
  if (ec) return false;
  for (;;) {
    if (work.IdentifyFile(folder) == outer_id) return true;
    fs::path parent = folder.parent_path();
    if (parent == folder || parent.empty()) return false;
    folder = std::move(parent);
  }
}

void StaleCopies::KeepRecordedBelow(const Native& prefix) {
  if (record_ == nullptr) return;
  for (auto at = record_->copies.lower_bound(prefix);
       at != record_->copies.end() &&
       at->first.compare(0, prefix.size(), prefix) == 0;
       ++at) {
    still_recorded_.copies.insert(*at);
  }
  for (auto at = record_->folders.lower_bound(prefix);
       at != record_->folders.end() &&
       at->compare(0, prefix.size(), prefix) == 0;
       ++at) {
    still_recorded_.folders.insert(*at);
  }
}

const CopyRecord& StaleCopies::still_recorded() const {
  if (walked_ || record_ == nullptr) return still_recorded_;
  if (!unwalked_) {
    unwalked_ = *record_;
    for (const Native& gone : removed_paths_) {
      unwalked_->copies.erase(gone);
      unwalked_->folders.erase(gone);
    }
  }
  return *unwalked_;
}

bool StaleCopies::InsideSource(const fs::path& source,
                               const fs::path& destination, FileWork& work) {
  // Where nothing can be told, nothing is removed; the destination is
  // resolved only to learn that it can be.
  std::error_code ec;
  (void)fs::canonical(destination, ec);
  if (ec || !work.IdentifyFile(source)) return true;
  return IsWithin(destination, source, work);
}

bool StaleCopies::Find(bool remove, bool look_only, const OnStale& on_stale,
                       const std::function<bool()>& go_on) {
  remove_ = remove;
  look_only_ = look_only;
  on_stale_ = on_stale;
  go_on_ = go_on;
  if (record_ != nullptr) still_recorded_.source = record_->source;
  const std::optional<FileId> id = work_.IdentifyFile(Openable(destination_));
  if (!id || work_.IsSourceFolder(*id)) return true;
  Walk(destination_, *id, source_);
  walked_ = !stopped_;
  return !stopped_;
}

bool StaleCopies::Walk(const Native& text, const FileId& id,
                       const fs::path& twin) {
  // Entered through its parent, so that every act below is on what was
  // looked at, wherever a folder swapped for a link would lead.
  bool cleared = false, entered = false;
  try {
    entered = work_.EnterFolder(Openable(text), id, &cleared);
  } catch (const Error&) {
    // Only counted, the copies there go uncounted; to be removed, they are
    // a failure to tell.
    if (remove_) throw;
  }
  if (!entered) {
    KeepRecordedBelow(text.substr(destination_.size()));
    if (!remove_) return false;
    throw Error("Could not read the folder", Openable(text),
                "It changed while Norvale was looking at it");
  }
  struct Leave {
    FileWork& work;
    ~Leave() { work.LeaveFolder(); }
  } leave{work_};
  return WalkEntered(text, id, twin, cleared);
}

bool StaleCopies::WalkEntered(const Native& text, const FileId& id,
                              const fs::path& twin, bool cleared) {
  std::error_code ec;
  std::vector<FolderEntry> entries = work_.ListEnteredFolder(ec);
  if (ec) {
    // Only counted, the copies there go uncounted, and stay recorded; to be
    // removed, they are a failure to tell.
    KeepRecordedBelow(text.substr(destination_.size()));
    if (!remove_) return false;
    throw SystemError("Could not read the folder", Openable(text), ec);
  }
  // In the order of their names, so that what is told comes in an order
  // that a script can compare from one run to the next.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) {
              return a.name < b.name;
            });
  // A removal killed half-way leaves a temporary file where no copy may be
  // written again; cleared on entering, it leaves the folder to remove.
  bool all_removed = !entries.empty() || (cleared && remove_);
  for (const FolderEntry& entry : entries) {
    if (stopped_) return false;
    const Native path = text + entry.name;
    const Native relative = path.substr(destination_.size());
    if (entry.kind == FileKind::kFolder) {
      const std::optional<FileId> folder_id =
          work_.IdentifySubfolder(id, fs::path(path));
      // The source may lie inside the destination, and another disk may be
      // mounted below it (a stick, a share, a bind mount): nothing there is
      // touched.
      if (!folder_id || work_.IsSourceFolder(*folder_id) ||
          work_.IsMountPoint(fs::path(path))) {
        KeepRecordedBelow(relative + kSeparator);
        all_removed = false;
        continue;
      }
      const bool recorded =
          record_ != nullptr && record_->folders.count(relative) != 0;
      const fs::path source_folder = twin / fs::path(entry.name);
      const bool emptied = Walk(path + kSeparator, *folder_id, source_folder);
      std::error_code kind_ec;
      // Only a folder Norvale made, that held copies and no longer does, and
      // that the source does not have (it would be made again) goes.
      if (emptied && remove_ && recorded && !stopped_ &&
          KindOf(source_folder, kind_ec) != FileKind::kFolder &&
          work_.RemoveEmptyFolder(fs::path(path), &id)) {
        if (on_stale_) on_stale_(fs::path(path + kSeparator), Fate::kRemoved);
        removed_paths_.insert(relative);
        continue;
      }
      if (recorded) still_recorded_.folders.insert(relative);
      all_removed = false;
      continue;
    }
    // What the system cannot tell (kUnknown) may be a folder of copies or
    // a user's file: it is kept, with what the record names below it, and so
    // is the folder holding it.
    if (entry.kind == FileKind::kUnknown) KeepRecordedBelow(relative);
    std::optional<ExistingCopy> copy;
    if (entry.kind != FileKind::kFile || !MatchesPattern(entry.name, "*.url") ||
        IsListed(path) || IsLive(path, id) ||
        !(copy = CopyAt(fs::path(path))) || IsSource(fs::path(path))) {
      all_removed = false;
      continue;
    }
    // Only a file the record names, still holding what Norvale wrote there,
    // is Norvale's: the same bytes at another place may be anyone's. A file
    // online only is not read, and what is not read is not removed: it
    // stays, and so does what the record says of it.
    const RecordedCopy* named = nullptr;
    if (record_ != nullptr) {
      const auto at = record_->copies.find(relative);
      if (at != record_->copies.end()) named = &at->second;
    }
    const RecordedCopy recorded{Fingerprint(copy->content), copy->stamp};
    if (copy->online_only) {
      ++online_only_;
      all_removed = false;
      if (named != nullptr) still_recorded_.copies.emplace(relative, *named);
      if (on_stale_) on_stale_(fs::path(path), Fate::kOnlineOnly);
      continue;
    }
    if (named == nullptr || named->fingerprint != recorded.fingerprint) {
      ++unrecorded_;
      all_removed = false;
      if (on_stale_) on_stale_(fs::path(path), Fate::kUnrecorded);
      continue;
    }
    ++found_;
    bool removed = false;
    if (remove_) {
      if (go_on_ && !go_on_()) {
        stopped_ = true;
        still_recorded_.copies.emplace(relative, recorded);
        return false;
      }
      removed = work_.RemoveCopy(fs::path(path), &id, copy->content);
    }
    if (removed) {
      ++removed_;
      removed_paths_.insert(relative);
    } else {
      still_recorded_.copies.emplace(relative, recorded);
    }
    if (on_stale_ && removed) on_stale_(fs::path(path), Fate::kRemoved);
    if (!removed) all_removed = false;
  }
  return all_removed;
}

bool StaleCopies::IsLive(const Native& path, const FileId& folder) {
  // A disk that ignores letter case, or a linked folder, can hold a live
  // copy under a name other than the one it was written by; identities
  // tell. Only met for files that are no live copy by their text, so an
  // up-to-date destination never pays for it, and each folder's copies are
  // identified once.
  if (!live_by_folder_) {
    live_by_folder_.emplace();
    Native last_folder;
    std::optional<FileId> last_id;
    for (size_t i = 0; i < shortcuts_.count(); ++i) {
      const fs::path shortcut = shortcuts_[i];
      Native copy =
          destination_ + shortcut.native().substr(source_text_.size());
      // The list is sorted, so the copies of one folder come together.
      const Native copy_folder = FolderOf(copy);
      if (i == 0 || copy_folder != last_folder) {
        last_folder = copy_folder;
        last_id = work_.IdentifyFile(Openable(copy_folder));
      }
      if (last_id)
        (*live_by_folder_)[*last_id].paths.push_back(std::move(copy));
    }
  }
  const auto live = live_by_folder_->find(folder);
  if (live == live_by_folder_->end()) return false;
  const std::optional<FileId> file_id = work_.IdentifyFile(fs::path(path));
  if (!file_id) return true;  // Cannot be told: kept.
  LiveCopies& copies = live->second;
  if (copies.ids.empty()) {
    for (const Native& copy : copies.paths) {
      copies.ids.push_back(work_.IdentifyFile(fs::path(copy)));
    }
  }
  return std::find(copies.ids.begin(), copies.ids.end(), file_id) !=
         copies.ids.end();
}

bool StaleCopies::IsSource(const fs::path& path) {
  // A shortcut of the source may be a link to a file in the destination;
  // that file is what the source holds.
  const std::optional<FileId> id = work_.IdentifyFile(path);
  return !id || shortcuts_.Holds(*id, work_);
}

std::optional<ExistingCopy> StaleCopies::CopyAt(const fs::path& path) {
  try {
    std::optional<ExistingCopy> existing = work_.ReadExistingCopy(path);
    if (existing && !existing->online_only &&
        !IsCompactShortcut(existing->content)) {
      return std::nullopt;
    }
    return existing;
  } catch (const Error&) {
    // A link, a folder, a file that cannot be read: not Norvale's to tell.
    return std::nullopt;
  }
}

}  // namespace norvale
