// What a run's file work keeps on Windows, shared by the files that do it.
#ifndef NORVALE_SERVICES_FILE_WORK_WIN_H_
#define NORVALE_SERVICES_FILE_WORK_WIN_H_

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "services/copy_rules.h"
#include "services/file_id.h"
#include "services/file_work.h"
#include "services/win/handle.h"
#include "services/win/identity.h"

namespace norvale {

// Returns what the file open as `handle`, opened as itself (not what a
// link leads to), whose facts are `facts`, is to the rules of copy_rules.h.
FoundFile Found(HANDLE handle, const FileFacts& facts);

// A folder whose identity was taken last, kept for the files in it that
// come next: a run's files come sorted, so most follow one another in the
// same folder.
struct KnownFolder {
  std::wstring text;
  std::optional<FileId> id;
  Numbering numbering = Numbering::kPaths;
  // Where files are told apart by real path: the folder's entries, spelled
  // as it stores them, listed once when first needed.
  std::optional<std::unordered_set<std::wstring>> names;
};

struct FileWork::State {
  // Norvale's temporary files older than this are leftovers.
  FILETIME start = {};
  Volumes volumes;
  // The file work this is the platform's side of, which keeps what the run
  // notes of its folders.
  FileWork* work = nullptr;
  // The folders a walk has entered.
  std::vector<std::filesystem::path> walk;
  // Held while the run writes to its destination; null when not locked.
  HANDLE lock = nullptr;
  // The folder of the last copy read or written, and the one PlaceOf was
  // last asked about.
  KnownFolder copy_folder;
  KnownFolder place_folder;
  // The copy read or written last, and its size and last-write time then.
  std::wstring stamped;
  FileStamp stamp;

  // Returns the identity of the file or folder open as `handle`, as its
  // volume tells files apart; `path` names it in any Error. Returns
  // nothing when the system tells nothing of it.
  std::optional<FileId> Identify(HANDLE handle,
                                 const std::filesystem::path& path);

  // Returns the identity of the file open as `handle`, named by itself (not
  // through a link) in `folder`, the same as Identify gives, but without
  // asking the volume again for what the folder told; given `name`, the
  // last component of `path`, a name the folder lists as spelled is taken
  // for that entry without asking the system for its real path. Throws
  // Error naming `path` when the system tells nothing of it.
  FileId IdentifyIn(HANDLE handle, KnownFolder& folder,
                    const std::filesystem::path& path,
                    std::wstring_view name = {});

  // Makes `known` the folder of the file `path`, taking its identity when
  // it is another than before, and puts the last component of `path` in
  // `name`. Returns false when the folder cannot be reached.
  bool Know(KnownFolder& known, const std::filesystem::path& path,
            std::wstring_view* name);

  // Returns the name the place of a copy named `name` has in `folder`: the
  // stored spelling `real` gives, where real paths tell files apart, else
  // `name` folded as Windows compares names.
  std::wstring PlaceName(const KnownFolder& folder, std::wstring_view name,
                         const std::wstring* real);

  // Removes from the folder of the copy `path`, once a run, the temporary
  // files a killed run left there, as FileWork::ClaimLeftovers allows.
  // Throws Error naming `path` when the folder cannot be identified.
  void ClearFolderOf(const std::filesystem::path& path);

  // Notes that the copy `path` has `stamp` now, as this run read or wrote it.
  void Stamp(const std::filesystem::path& path, FileStamp stamp_now) {
    stamped = path.native();
    stamp = stamp_now;
  }
};

// Returns the stamp of a file of `size` bytes last written at `time`.
inline FileStamp StampFrom(uint64_t size, const LARGE_INTEGER& time) {
  return {size, static_cast<int64_t>(time.QuadPart)};
}

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_WORK_WIN_H_
