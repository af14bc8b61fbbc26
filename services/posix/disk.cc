#include "services/posix/disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "services/posix/descriptor.h"
#include "services/posix/temporary_files.h"

namespace norvale {
namespace {

// Kernel file systems whose numbers are made up in memory, so that a file
// the kernel forgot comes back with another: FAT, exFAT, and the SMB
// clients without server numbers.
constexpr long kMadeUpNumbers[] = {0x4d44, 0x2011BAB0, 0x517B,
                                   static_cast<long>(0xFF534D42),
                                   static_cast<long>(0xFE534D42)};

// Asks the disk, through a temporary file made in `folder`, whether it finds
// a name under another letter case and, on FUSE, whether it gives a file
// the same number by every name: two spellings, or two hard links where
// the disk keeps case apart. Learns nothing when the file cannot be made.
void Probe(Disk& disk, int folder) {
  std::string name;
  const int raw = CreateTemporary(folder, 0600, &name);
  if (raw < 0) return;
  Descriptor fd(raw);
  struct stat made, other;
  if (::fstat(fd.get(), &made) != 0) {
    ::unlinkat(folder, name.c_str(), 0);
    return;
  }
  std::string swapped = name;
  for (char& c : swapped) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  if (::fstatat(folder, swapped.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0) {
    disk.ignores_case = Ability::kYes;
    if (disk.fuse) disk.numbers_last = other.st_ino == made.st_ino;
  } else {
    disk.ignores_case = Ability::kNo;
    if (disk.fuse) {
      const std::string link = TemporaryName();
      disk.numbers_last = false;
      if (::linkat(folder, name.c_str(), folder, link.c_str(), 0) == 0) {
        disk.hard_links = Ability::kYes;
        disk.numbers_last =
            ::fstatat(folder, link.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0 &&
            other.st_ino == made.st_ino;
        ::unlinkat(folder, link.c_str(), 0);
      }
    }
  }
  ::unlinkat(folder, name.c_str(), 0);
}

}  // namespace

Disk& Disks::Of(dev_t device, int fd, int probe_in) {
  const auto found = disks_.find(device);
  if (found != disks_.end()) return found->second;
  Disk& disk = disks_[device];
  // A disk that cannot be asked is taken as the least it might be.
  disk.numbers_last = false;
  struct statfs info;
  if (::fstatfs(fd, &info) == 0) {
    disk.fuse = info.f_type == kFuseMagic;
    disk.numbers_last = !disk.fuse;
    for (const long magic : kMadeUpNumbers) {
      if (info.f_type == magic) disk.numbers_last = false;
    }
  }
  // Disks whose numbers last need no asking: their numbers tell files apart
  // whatever the names.
  if (probe_in >= 0 && !disk.numbers_last) Probe(disk, probe_in);
  return disk;
}

}  // namespace norvale
