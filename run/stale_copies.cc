#include "run/stale_copies.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "services/error.h"
#include "services/file_work.h"
#include "services/folder_io.h"
#include "services/ini_format.h"
#include "services/shell_tools.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
constexpr fs::path::value_type kSeparator = fs::path::preferred_separator;

bool IsSeparator(fs::path::value_type c) { return c == kSeparator || c == '/'; }

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
                         const PathList& shortcuts, FileWork& work)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      shortcuts_(shortcuts),
      source_text_(source_.native()),
      work_(work) {
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

bool StaleCopies::InsideSource(const fs::path& source,
                               const fs::path& destination, FileWork& work) {
  const std::optional<FileId> source_id = work.IdentifyFile(source);
  if (!source_id) return true;  // Nothing can be told; nothing is removed.
  std::error_code ec;
  // Links and "..", resolved, so that each folder above is a real one.
  fs::path folder = fs::canonical(destination, ec);
  if (ec) return true;
  for (;;) {
    if (work.IdentifyFile(folder) == source_id) return true;
    fs::path parent = folder.parent_path();
    if (parent == folder || parent.empty()) return false;
    folder = std::move(parent);
  }
}

void StaleCopies::Find(
    bool remove, bool look_only,
    const std::function<void(const fs::path&, bool)>& on_stale) {
  remove_ = remove;
  look_only_ = look_only;
  on_stale_ = on_stale;
  const std::optional<FileId> id = work_.IdentifyFile(Openable(destination_));
  if (!id || work_.IsSourceFolder(*id)) return;
  Walk(destination_, *id, source_);
}

bool StaleCopies::Walk(const Native& text, const FileId& id,
                       const fs::path& twin) {
  // A removal killed half-way leaves a temporary file where no copy may be
  // written again; cleared first, it leaves the folder empty to remove.
  const bool cleared =
      remove_ && !look_only_ && work_.ClearLeftovers(Openable(text));
  std::error_code ec;
  std::vector<FolderEntry> entries = ListFolder(Openable(text), ec);
  if (ec) {
    // Only counted, the copies there go uncounted; to be removed, they are
    // a failure to tell.
    if (!remove_) return false;
    throw SystemError("Could not read the folder", Openable(text), ec);
  }
  // In the order of their names, so that what is told comes in an order
  // that a script can compare from one run to the next.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) {
              return a.name < b.name;
            });
  bool all_removed = !entries.empty() || cleared;
  for (const FolderEntry& entry : entries) {
    const Native path = text + entry.name;
    if (entry.kind == FileKind::kFolder) {
      const std::optional<FileId> folder_id =
          work_.IdentifySubfolder(id, fs::path(path));
      // The source may lie inside the destination; nothing in it is
      // touched.
      if (!folder_id || work_.IsSourceFolder(*folder_id)) {
        all_removed = false;
        continue;
      }
      const fs::path source_folder = twin / fs::path(entry.name);
      const bool emptied = Walk(path + kSeparator, *folder_id, source_folder);
      std::error_code kind_ec;
      // A folder the source has, even empty, stays, as it would be made.
      if (emptied && remove_ &&
          KindOf(source_folder, kind_ec) != FileKind::kFolder &&
          (look_only_ || work_.RemoveEmptyFolder(fs::path(path)))) {
        continue;
      }
      all_removed = false;
      continue;
    }
    bool read_only = false;
    if (entry.kind != FileKind::kFile || !MatchesPattern(entry.name, "*.url") ||
        IsListed(path) || IsLive(path, id) ||
        !IsCompactCopy(fs::path(path), &read_only)) {
      all_removed = false;
      continue;
    }
    ++found_;
    // Looking only, a removal is foretold as the file stands now.
    const bool removed =
        remove_ && (look_only_ ? !read_only : work_.RemoveCopy(fs::path(path)));
    if (removed) ++removed_;
    if (on_stale_) on_stale_(fs::path(path), removed);
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

bool StaleCopies::IsCompactCopy(const fs::path& path, bool* read_only) {
  try {
    const std::optional<ExistingCopy> existing = work_.ReadExistingCopy(path);
    if (!existing) return false;
    *read_only = existing->read_only;
    return IsCompactIniFile(existing->content, "InternetShortcut", "URL");
  } catch (const Error&) {
    // A link, a folder, a file that cannot be read: not Norvale's to tell.
    return false;
  }
}

}  // namespace norvale
