// The copies in a destination whose shortcuts are gone from the source:
// found after a run, and removed with the folders that held only them.
#ifndef NORVALE_RUN_STALE_COPIES_H_
#define NORVALE_RUN_STALE_COPIES_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "run/copy_record.h"
#include "services/file_id.h"
#include "services/file_work.h"
#include "services/path_list.h"

namespace norvale {

class StaleCopies {
 public:
  using Native = std::filesystem::path::string_type;

  // For the destination folder `destination` (its text ending in one
  // separator) of a run from `source` that wrote, or found up to date, the
  // copy of every shortcut of `shortcuts`, the search's list, each of
  // which begins with the text of `source` and a separator. `record` is
  // what the destination's record says Norvale wrote there, or null when
  // it has none that holds for this source.
  StaleCopies(std::filesystem::path source, Native destination,
              const PathList& shortcuts, FileWork& work,
              const CopyRecord* record);

  // What was done with a file or folder the walk met.
  enum class Fate {
    kRemoved,     // a stale copy, or an emptied folder (its path ending in a
                  // separator), removed or, looking only, that would be
    kUnrecorded,  // a stale copy kept, as the record does not name it
    kOnlineOnly,  // a file online only, neither read nor proven Norvale's
  };
  // Called with each file or folder of a fate above.
  using OnStale =
      std::function<void(const std::filesystem::path& path, Fate fate)>;

  // Goes through the destination, never into a link, another mounted disk
  // or a folder searched for sources, and calls `on_stale` with each copy
  // whose shortcut is gone: a file named like a shortcut, other than the
  // live copies under any spelling and the files a source links to,
  // holding exactly a compact copy, or online only and proven by the
  // record's stamp to hold the copy Norvale wrote there; a file online only
  // is never read, and without that proof is only told of. With `remove`,
  // removes each one that the record names with the content Norvale wrote
  // there (not read-only, unchanged meanwhile), then each folder that the
  // record says Norvale made and that this emptied, and has no folder of
  // its name in the source. With `look_only`, removes nothing but meets every
  // failure the removals would. Stops, returning false, when `go_on` says so
  // before a removal. Throws Error when a folder cannot be read or a removal
  // fails.
  bool Find(bool remove, bool look_only, const OnStale& on_stale,
            const std::function<bool()>& go_on);

  // Stale copies found that the record names, and removed (or, looking
  // only, removable); and those it does not name, which are never removed.
  size_t found() const { return found_; }
  size_t removed() const { return removed_; }
  size_t unrecorded() const { return unrecorded_; }
  // Files named like shortcuts, online only, that nothing proves copies of
  // Norvale's; they are neither read nor removed.
  size_t online_only() const { return online_only_; }

  // What of the record still holds after the walk: the copies it names
  // that were found unchanged and kept, and the folders it names that are
  // still there. After a walk that did not end, the record less what was
  // removed: what was not looked at is not known to be gone.
  const CopyRecord& still_recorded() const;

  // Returns true when `destination` is the folder `source` or lies inside
  // it, however either is spelled or reached; nothing there may be removed.
  static bool InsideSource(const std::filesystem::path& source,
                           const std::filesystem::path& destination,
                           FileWork& work);

  // Returns true when `inner` is the folder `outer` or lies inside it,
  // however either is spelled or reached; false when either cannot be
  // reached, as a folder that does not exist yet holds nothing.
  static bool IsWithin(const std::filesystem::path& inner,
                       const std::filesystem::path& outer, FileWork& work);

 private:
  // Goes through the folder `text` (ending in a separator), whose identity
  // is `id` and whose twin in the source is `twin`; returns true when it
  // held something and all of it was removed.
  bool Walk(const Native& text, const FileId& id,
            const std::filesystem::path& twin);

  // Walk's work once the folder is entered; `cleared` tells whether
  // entering removed leftovers from it.
  bool WalkEntered(const Native& text, const FileId& id,
                   const std::filesystem::path& twin, bool cleared);

  // Keeps in the record what it names below the folder whose path below
  // the destination begins with `prefix`, which the walk does not enter.
  void KeepRecordedBelow(const Native& prefix);

  // Returns true when the file `path` below the destination is the copy of
  // one of the shortcuts, by its text.
  bool IsListed(const Native& path) const;

  // Returns true when the file `path`, in the folder whose identity is
  // `folder`, is one of the live copies under another spelling or name.
  bool IsLive(const Native& path, const FileId& folder);

  // Returns the file `path`, read without following a link, when it holds
  // exactly a compact copy or is online only (then unread); else nothing.
  std::optional<ExistingCopy> CopyAt(const std::filesystem::path& path);

  // Returns true when the file `path`, whose identity is `id`, is one a
  // source shortcut is a link to: a source, never removed.
  bool IsSource(const std::filesystem::path& path);

  std::filesystem::path source_;
  Native destination_;
  const PathList& shortcuts_;
  // The text of the source and a separator, which begins every shortcut's.
  Native source_text_;
  FileWork& work_;
  const CopyRecord* record_;
  bool remove_ = false;
  bool look_only_ = false;
  bool stopped_ = false;
  OnStale on_stale_;
  std::function<bool()> go_on_;
  // The disk the destination is on; a folder on another is not entered.
  uint64_t mount_ = 0;
  // The live copies of one folder, and their identities once asked for.
  struct LiveCopies {
    std::vector<Native> paths;
    std::vector<std::optional<FileId>> ids;
  };
  // The live copies by the identity of their folder, made when a file
  // that is not a live copy by its text is first met.
  std::optional<std::unordered_map<FileId, LiveCopies, FileIdHash>>
      live_by_folder_;
  size_t found_ = 0;
  size_t removed_ = 0;
  size_t unrecorded_ = 0;
  size_t online_only_ = 0;
  bool walked_ = false;
  CopyRecord still_recorded_;
  // What was removed, by its path below the destination.
  std::unordered_set<Native> removed_paths_;
  mutable std::optional<CopyRecord> unwalked_;
};

}  // namespace norvale

#endif  // NORVALE_RUN_STALE_COPIES_H_
