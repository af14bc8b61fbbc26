// The platform's file primitives, shaped so that sources are only ever read,
// a copy's name only ever shows whole content, and an existing file is only
// ever replaced whole.
#ifndef NORVALE_SERVICES_FILE_IO_H_
#define NORVALE_SERVICES_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// Identifies a file independently of the path that names it.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  // The upper half of a 128-bit file number, as ReFS gives; else 0.
  uint64_t inode_high = 0;

  friend bool operator==(const FileId& a, const FileId& b) {
    return a.device == b.device && a.inode == b.inode &&
           a.inode_high == b.inode_high;
  }
};

struct FileIdHash {
  size_t operator()(const FileId& id) const {
    return std::hash<uint64_t>()(
        (id.inode ^ id.inode_high * 0xC2B2AE3D27D4EB4Full) *
            0x9E3779B97F4A7C15ull ^
        id.device);
  }
};

// Where a copy is, as its disk tells places apart: equal for two paths that
// reach one folder entry (through a linked folder, or by letter case on a
// disk that ignores it), different for two names of one file (hard links).
struct CopyPlace {
  FileId folder;
  // The entry's name, or where the disk cannot identify folders lastingly
  // its whole path; in capitals where the disk ignores letter case.
  std::filesystem::path::string_type name;

  friend bool operator==(const CopyPlace& a, const CopyPlace& b) {
    return a.folder == b.folder && a.name == b.name;
  }
};

struct CopyPlaceHash {
  size_t operator()(const CopyPlace& place) const {
    return FileIdHash()(place.folder) ^
           std::hash<std::filesystem::path::string_type>()(place.name);
  }
};

// A file found where a copy goes, read without following a link.
struct ExistingCopy {
  std::string content;
  FileId id;
  // True when `id` alone identifies this place: the file has one name and
  // its disk keeps identities for as long as the run lasts.
  bool id_is_place = false;
  CopyPlace place;
};

// Shortcuts are small; a file larger than this is not one, and is never
// read into memory.
constexpr uint64_t kLargestShortcut = 16u << 20;

// Starts the file work of one run: what was learned of the disks before is
// forgotten, and Norvale's own temporary files older than now are leftovers
// of an earlier run, removed from each folder a copy is written to.
void BeginFileWork();

// Returns the identity of the file `path` names, links followed, or nothing
// when no file can be reached there.
std::optional<FileId> IdentifyFile(const std::filesystem::path& path);

// Returns the place of the copy `path`, as ExistingCopy::place gives it, or
// nothing when its folder cannot be reached.
std::optional<CopyPlace> PlaceOf(const std::filesystem::path& path);

// Returns the whole content of the regular file `path` (a link to one is
// followed), holding at most about twice its size in memory however the
// file system cuts the reads. Throws Error when it cannot be opened or read,
// is not a regular file, or is larger than kLargestShortcut; a pipe or
// device is never read, so this never blocks.
std::string ReadWholeFile(const std::filesystem::path& path);

// Returns what stands at `path`, where a copy goes: nothing when nothing
// does, else the regular file there with its content. Throws Error saying
// why it is left as it is when it is a link, a folder or a device, or larger
// than any compact copy.
std::optional<ExistingCopy> ReadExistingCopy(const std::filesystem::path& path);

// Creates `path`, which must not exist yet, holding `bytes`. The name only
// ever shows the whole content (or, on disks without atomic names, for a
// moment an empty file): the bytes are written under no name, or under a
// temporary one that no search lists, and then given `path` by a call that
// refuses a taken name. Returns false, leaving nothing behind, when anything
// (even a dangling link) already stands at `path`. Throws Error on any other
// failure, leaving nothing behind either.
bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes);

// Replaces the file at `path`, which held `expected` when it was read, as a
// whole with `bytes`. What is replaced is proven to be what was read: when
// the file changed meanwhile it is put back as it is and Error says so.
// Throws Error, leaving what stood at `path` untouched, when it is
// read-only (also for a user, such as root, whom the system would let write
// it) or cannot be replaced.
void ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                 std::string_view expected);

// Notes that the run made `folder`, so that it is flushed with the copies
// where its disk needs that, and known to hold nothing of an earlier run.
void NoteFolderMade(const std::filesystem::path& folder);

// Lets go of the folders that reading and writing keep open from one file
// to the next, so that their disks can be unmounted; called when a run ends.
void CloseOpenFolders();

// Makes sure that what the run wrote is on its disks, not only in the
// system's memory: every disk written to is flushed, and on disks that a
// whole flush does not reach (FUSE) each folder made was flushed too.
// Throws Error when a disk reports a failure.
void FlushWrittenDisks();

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_IO_H_
