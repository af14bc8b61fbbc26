// Where a file is on its disk, as the disk itself names it: how files are
// told apart on disks whose file numbers do not last.
#ifndef NORVALE_SERVICES_POSIX_REAL_PATH_H_
#define NORVALE_SERVICES_POSIX_REAL_PATH_H_

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace norvale {

class RealPaths {
 public:
  // Returns the path, on its disk, of the file or folder open as `fd`: every
  // link resolved (as the system found what was opened), a bind mount taken
  // back to the folder it shows, and, unless `exact_names`, each name as its
  // folder lists it, so that every spelling a disk that ignores letter case
  // accepts gives one path. Throws Error naming `path` when the system
  // cannot tell where the file is, or when a name reached an entry spelled
  // otherwise that cannot be told from the folder's other names.
  std::string Of(int fd, bool exact_names, const std::filesystem::path& path);

  // Returns the name under which the folder at `real` on its disk lists the
  // entry reached as `name`, listing it when needed through `fd` or, when
  // that is -1, through its path `seen`; throws Error naming `path` as Of
  // does.
  std::string StoredName(int fd, const std::string& seen,
                         const std::string& real, const std::string& name,
                         const std::filesystem::path& path);

  // Notes that the run made `name` in the folder at `real`, so that it need
  // not be listed again to find it.
  void Added(const std::string& real, const std::string& name);

 private:
  struct Mount {
    dev_t device = 0;
    std::string root;   // The folder of its disk it shows.
    std::string point;  // Where it shows it.
  };

  // Returns the mount `fd` was opened through, or null when the system
  // does not tell.
  const Mount* MountOf(int fd);
  void ReadMounts();

  // Returns the names the folder at `real` lists, listing it through `fd`
  // (or, when `fd` is negative, through its path `seen`) when not known yet
  // or when `again`.
  const std::unordered_set<std::string>& Names(const std::string& real, int fd,
                                               const std::string& seen,
                                               bool again);
  // Returns the entry of the folder at `real` that `name` reached.
  std::string Stored(const std::string& real, int fd, const std::string& seen,
                     const std::string& name,
                     const std::filesystem::path& path);

  std::unordered_map<int, Mount> mounts_;
  std::unordered_map<std::string, std::unordered_set<std::string>> names_;
  // Folders that could not be listed (a folder the user may enter but not
  // read): their names are taken as given.
  std::unordered_set<std::string> unlisted_;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_POSIX_REAL_PATH_H_
