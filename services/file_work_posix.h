// What a run's file work keeps on POSIX, shared by the files that do it.
#ifndef NORVALE_SERVICES_FILE_WORK_POSIX_H_
#define NORVALE_SERVICES_FILE_WORK_POSIX_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "services/copy_rules.h"
#include "services/file_id.h"
#include "services/file_work.h"
#include "services/posix/descriptor.h"
#include "services/posix/disk.h"
#include "services/posix/open_folder.h"
#include "services/posix/real_path.h"

namespace norvale {

constexpr char kWriteAction[] = "Could not write";

// Returns what the file whose fstat gave `st`, opened without following a
// link, is to the rules of copy_rules.h.
inline FoundFile Found(const struct stat& st) {
  FoundFile found;
  found.kind = S_ISDIR(st.st_mode)   ? FoundFile::Kind::kFolder
               : S_ISREG(st.st_mode) ? FoundFile::Kind::kFile
                                     : FoundFile::Kind::kOther;
  found.size = static_cast<uint64_t>(st.st_size);
  found.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return found;
}

struct FileWork::State {
  // Norvale's temporary files older than this are leftovers.
  timespec start = {0, 0};
  Disks disks;
  RealPaths real_paths;
  // The file work this is the platform's side of, which keeps what the run
  // notes of its folders.
  FileWork* work = nullptr;
  // The destination, open and locked while the run writes to it; -1 when
  // not locked.
  int lock = -1;
  // The folders a walk has entered, each opened from the one before it,
  // with their paths.
  std::vector<std::pair<std::string, int>> walk;

  OpenFolder source_folder{O_PATH};
  // The folder of the last copy, with what is known of it and its disk.
  OpenFolder copy_folder{O_RDONLY};
  struct stat copy_folder_stat = {};
  Disk* copy_disk = nullptr;
  std::optional<FileId> copy_folder_id;

  // The copy ReadExistingCopy read last, held open so that its permissions
  // are changed on that very file, and its path.
  Descriptor existing{-1};
  std::string existing_path;
  // The user's umask, which a copy's permissions never exceed either.
  mode_t umask = 022;

  // The folder PlaceOf was last asked about.
  std::string place_folder;
  std::optional<FileId> place_folder_id;

  // Returns the identity of the file or folder open as `fd`, whose fstat
  // gave `st`, on `disk`; `path` names it in any Error.
  FileId Identify(int fd, const struct stat& st, const Disk& disk,
                  const std::filesystem::path& path);

  // Makes the folder of the copy `path` the open copy folder, and puts the
  // last component of `path` in `name`. A folder opened anew has its disk
  // learned and, unless the run made or searched it, its leftovers
  // removed, telling `cleared` whether there were any. Throws Error naming
  // `path` when it cannot be opened.
  // Learns what the newly opened copy folder is, as OpenCopyFolder does
  // after opening it; `path` names a file in it for any Error.
  void MetCopyFolder(const std::filesystem::path& path, bool* cleared);

  void OpenCopyFolder(const std::filesystem::path& path, const char** name,
                      bool* cleared = nullptr);

  // Returns the identity of the open copy folder.
  const FileId& CopyFolderId();

  // Returns how the open copy folder lists the entry `name` of the copy
  // `path`: as its disk stores it where numbers do not last.
  std::string StoredCopyName(const char* name,
                             const std::filesystem::path& path);

  // Notes that a copy named `name` was made in the open copy folder.
  void Written(const char* name);

  // Notes that the open copy folder changed, so that it is flushed.
  void Changed();
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_WORK_POSIX_H_
