// Which file or folder a path reaches, and where a copy is, as the disk tells
// them apart; and whether a file is still as it was.
#ifndef NORVALE_SERVICES_FILE_ID_H_
#define NORVALE_SERVICES_FILE_ID_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace norvale {

// Identifies a file independently of the path that names it. Where the
// disk's file numbers last (ext4, tmpfs, NTFS), by its device and number;
// elsewhere (exFAT and FAT through FUSE, Windows volumes without file
// numbers) by its device and its path on the disk, links resolved and each
// name spelled as the disk stores it, with the numbers 0.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  // The upper half of a 128-bit file number, as ReFS gives; else 0.
  uint64_t inode_high = 0;
  std::filesystem::path::string_type path;

  friend bool operator==(const FileId& a, const FileId& b) {
    return a.device == b.device && a.inode == b.inode &&
           a.inode_high == b.inode_high && a.path == b.path;
  }
  friend bool operator!=(const FileId& a, const FileId& b) { return !(a == b); }
};

struct FileIdHash {
  size_t operator()(const FileId& id) const {
    return std::hash<uint64_t>()(
               (id.inode ^ id.inode_high * 0xC2B2AE3D27D4EB4Full) *
                   0x9E3779B97F4A7C15ull ^
               id.device) ^
           std::hash<std::filesystem::path::string_type>()(id.path);
  }
};

// Where a copy is, as its disk tells places apart: equal for two paths that
// reach one folder entry (through a linked folder, a bind mount, or by
// letter case on a disk that ignores it), different for two names of one
// file (hard links).
struct CopyPlace {
  FileId folder;
  // The entry's name: as the disk stores it where the disk's numbers do not
  // last, else as the copy's path spells it.
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

// A file's size and last-write time (in the system's ticks, 100 ns on
// Windows), as Norvale wrote or read it: while both are unchanged the file
// still holds what it held then, which tells of a file that is not read
// (one online only) whether it is still a copy of Norvale's. A time of 0 is
// none known, as on POSIX, where no file is kept online only.
struct FileStamp {
  uint64_t size = 0;
  int64_t time = 0;

  bool known() const { return time != 0; }
  friend bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.size == b.size && a.time == b.time;
  }
  friend bool operator!=(const FileStamp& a, const FileStamp& b) {
    return !(a == b);
  }
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_ID_H_
