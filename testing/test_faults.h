// Faults a test can make this process's system calls show: reads cut short
// or never ready, a full disk or a kill in the middle of a write, a file system
// without unnamed files or without a rename that refuses a taken name, a
// failing flush, listings without entry types and entries that cannot be
// looked at. The fault shim, fault_shim_posix.cc, linked into each test
// program with this library, stands in front of the C library's calls;
// nothing changes while no plan is in force.
#ifndef NORVALE_TESTING_TEST_FAULTS_H_
#define NORVALE_TESTING_TEST_FAULTS_H_

#include <cstddef>
#include <functional>
#include <set>
#include <string>

namespace norvale {
namespace faults {

struct Plan {
  size_t read_at_most = 0;        // When not 0, no read gives more bytes.
  size_t reads_end_at = 0;        // When not 0, every file seems to end there,
                                  // as a FUSE daemon cutting a read short.
  int read_not_ready = 0;         // So many reads fail with EAGAIN first.
  int kill_in_write = 0;          // The process is killed in the nth write:
                                  // after half its bytes, or, as the system
                                  // takes a write of one page to an empty
                                  // file whole or not at all, before it.
  int disk_full_at_write = 0;     // The nth write fails with ENOSPC.
  int kill_at_removal = 0;        // The process is killed just before its nth
                                  // rename or unlink.
  bool no_unnamed_files = false;  // Opening with O_TMPFILE is refused.
  bool no_noreplace_rename = false;  // renameat2 knows no flags.
  bool no_hard_links = false;        // Linking two names fails with EPERM.
  bool no_descriptor_link = false;   // Linking a descriptor itself is refused,
                                     // as for a user who is not root.
  int flush_error = 0;               // When not 0, syncfs fails with it.
  bool numbers_made_up = false;      // Every disk says it is FAT, whose
                                     // file numbers do not last.
  bool types_unknown = false;  // Folder listings give no entry types, as on
                               // NFSv3 or ext2 without filetype.
  // When not 0, asking what the entry `look_fails_at` (a name in its
  // folder) is, or leads to, fails with it.
  int look_error = 0;
  std::string look_fails_at;
  // Called once, just before the first rename of a file, as another
  // program changing it at that moment would.
  std::function<void()> before_rename = nullptr;
  // Called before a file `name` is opened by openat, and before a whole
  // disk is flushed; a test may hold the call there, as a disk that stops
  // answering would.
  std::function<void(const char* name)> before_open = nullptr;
  std::function<void()> before_flush = nullptr;
  // Called with the name a file is about to be given, by an openat that
  // creates, a rename or a link, as another program making a file of that
  // name at that moment would.
  std::function<void(const char* name)> before_name_taken = nullptr;
};

// What was seen while a plan was in force.
struct Seen {
  size_t flushes = 0;  // Of whole file systems (syncfs).
  size_t fsyncs = 0;   // Of single files.
  std::set<std::string> folders_fsynced;
  size_t writes = 0;
  size_t renames = 0;             // And links.
  size_t largest_allocation = 0;  // By operator new, in bytes.
};

// Makes every file seem to end at `offset` from now on, as a plan's
// before_rename may ask.
void EndReadsAt(size_t offset);

// Puts `plan` in force for the life of the object.
class Scoped {
 public:
  explicit Scoped(const Plan& plan);
  ~Scoped();

  Seen seen() const;
};

}  // namespace faults
}  // namespace norvale

#endif  // NORVALE_TESTING_TEST_FAULTS_H_
