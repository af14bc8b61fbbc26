// What each disk a run meets allows, and how it tells files apart, learned
// once per disk and run.
#ifndef NORVALE_SERVICES_POSIX_DISK_H_
#define NORVALE_SERVICES_POSIX_DISK_H_

#include <sys/types.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace norvale {

// statfs's type of every FUSE mount (fuse and fuseblk alike).
constexpr long kFuseMagic = 0x65735546;

// What a disk turned out to allow, learned from the first try on it, so
// that no fallback is tried again for every shortcut.
enum class Ability : char { kUnknown, kYes, kNo };

struct Disk {
  // syncfs reaches no FUSE daemon.
  bool fuse = false;
  // True when a file's number identifies it for the whole run, whatever
  // name it is reached by. FUSE daemons without their own numbers give one
  // per name looked up and forget it with the name; FAT and exFAT drivers
  // and some network shares make numbers up in memory. Where numbers do
  // not last, files are told apart by their real paths.
  bool numbers_last = true;
  // Learned from a temporary file of Norvale's own, never from the user's
  // files; unknown on a disk never written to.
  Ability ignores_case = Ability::kUnknown;
  Ability unnamed_files = Ability::kUnknown;
  Ability noreplace_rename = Ability::kUnknown;
  Ability hard_links = Ability::kUnknown;
  Ability exchange = Ability::kUnknown;
  // Whether a file's permission bits change when asked; exFAT and NTFS
  // through FUSE say yes and keep none, FAT says the call is unknown.
  Ability modes = Ability::kUnknown;
  // A folder written to on it, for the flush of the whole disk; on FUSE,
  // every folder written to, each flushed on its own.
  std::unordered_set<std::string> written_folders;
};

class Disks {
 public:
  // Returns what is known of the disk of the open file or folder `fd`,
  // whose device is `device`. A disk met for the first time is judged by
  // its kind; when `probe_in` is a folder open on it where Norvale writes,
  // a disk of a kind that does not tell is asked, with a temporary file
  // made and removed there, whether it ignores letter case and whether its
  // numbers last. What a disk is taken for never changes during a run, so
  // that every identity taken on it is taken alike.
  Disk& Of(dev_t device, int fd, int probe_in = -1);

  std::unordered_map<dev_t, Disk>& all() { return disks_; }

 private:
  std::unordered_map<dev_t, Disk> disks_;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_POSIX_DISK_H_
