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

// Returns the identity of the file `path` names, links followed, or nothing
// when no file can be reached there.
std::optional<FileId> IdentifyFile(const std::filesystem::path& path);

// Returns the whole content of the regular file `path` (a link to one is
// followed), holding at most about twice its size in memory however the
// file system cuts the reads. Throws Error when it cannot be opened or read
// or is not a regular file; a pipe or device is never read, so this never
// blocks.
std::string ReadWholeFile(const std::filesystem::path& path);

// Returns the content of the file at `path`, which must be a regular file
// that may be written: not a link, a folder or a device, and not read-only
// (also for a user, such as root, whom the system would let write it).
// Throws Error saying why it is left as it is otherwise.
std::string ReadReplaceableFile(const std::filesystem::path& path);

// Creates `path`, which must not exist yet, holding `bytes`. The name only
// ever shows the whole content: the bytes are written under no name, or
// under a temporary one that no search lists, and then given `path` by a
// call that refuses a taken name. Returns false, leaving nothing behind,
// when anything (even a dangling link) already stands at `path`. Throws
// Error on any other failure, leaving nothing behind either.
bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes);

// Replaces `path` as a whole with `bytes`: writes a temporary file beside it,
// then renames it over `path`. Throws Error on failure, after removing the
// temporary file, leaving whatever stood at `path` untouched.
void ReplaceFile(const std::filesystem::path& path, std::string_view bytes);

// Lets go of the folders that reading and writing keep open from one file
// to the next, so that their disks can be unmounted; called when a run ends.
void CloseOpenFolders();

// Makes sure that what was written below `folder` is on its disk, not only
// in the system's memory, flushing its whole file system once. Throws
// Error when the disk reports a failure.
void FlushFileSystem(const std::filesystem::path& folder);

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_IO_H_
