// The copies in a destination whose shortcuts are gone from the source:
// found after a run, and removed with the folders that held only them.
#ifndef NORVALE_RUN_STALE_COPIES_H_
#define NORVALE_RUN_STALE_COPIES_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "services/file_id.h"
#include "services/path_list.h"

namespace norvale {

class FileWork;

class StaleCopies {
 public:
  using Native = std::filesystem::path::string_type;

  // For the destination folder `destination` (its text ending in one
  // separator) of a run from `source` that wrote, or found up to date, the
  // copy of every shortcut of `shortcuts`, the search's list, each of
  // which begins with the text of `source` and a separator.
  StaleCopies(std::filesystem::path source, Native destination,
              const PathList& shortcuts, FileWork& work);

  // Goes through the destination, never into a link or a folder searched
  // for sources, and calls `on_stale` with each copy whose shortcut is
  // gone: a file named like a shortcut, other than the live copies under
  // any spelling, holding exactly a compact copy. With `remove`, removes
  // each one Norvale may (not read-only, unchanged meanwhile), telling
  // `on_stale` so, then each folder that this emptied and that has no folder
  // of its name in the source. With `look_only`, removes nothing but counts
  // what it would. Throws Error when a folder cannot be read or a removal
  // fails.
  void Find(bool remove, bool look_only,
            const std::function<void(const std::filesystem::path& copy,
                                     bool removed)>& on_stale);

  // Stale copies found, and removed (or, looking only, removable).
  size_t found() const { return found_; }
  size_t removed() const { return removed_; }

  // Returns true when `destination` is the folder `source` or lies inside
  // it, however either is spelled or reached; nothing there may be removed.
  static bool InsideSource(const std::filesystem::path& source,
                           const std::filesystem::path& destination,
                           FileWork& work);

 private:
  // Goes through the folder `text` (ending in a separator), whose identity
  // is `id` and whose twin in the source is `twin`; returns true when it
  // held something and all of it was removed.
  bool Walk(const Native& text, const FileId& id,
            const std::filesystem::path& twin);

  // Returns true when the file `path` below the destination is the copy of
  // one of the shortcuts, by its text.
  bool IsListed(const Native& path) const;

  // Returns true when the file `path`, in the folder whose identity is
  // `folder`, is one of the live copies under another spelling or name.
  bool IsLive(const Native& path, const FileId& folder);

  // Returns true when the file `path` holds exactly a compact copy, read
  // without following a link, telling in `read_only` whether it is.
  bool IsCompactCopy(const std::filesystem::path& path, bool* read_only);

  std::filesystem::path source_;
  Native destination_;
  const PathList& shortcuts_;
  // The text of the source and a separator, which begins every shortcut's.
  Native source_text_;
  FileWork& work_;
  bool remove_ = false;
  bool look_only_ = false;
  std::function<void(const std::filesystem::path&, bool)> on_stale_;
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
};

}  // namespace norvale

#endif  // NORVALE_RUN_STALE_COPIES_H_
