// A folder kept open from one file to the next.
#ifndef NORVALE_SERVICES_POSIX_OPEN_FOLDER_H_
#define NORVALE_SERVICES_POSIX_OPEN_FOLDER_H_

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "services/folder_io.h"

namespace norvale {

// Returns the entries of the folder open as `fd`, read from where its
// position stands, as ListFolder does. Sets `ec` when it cannot be read to
// its end.
std::vector<FolderEntry> ListOpenFolder(int fd, std::error_code& ec);

// Returns the text of `path` up to its last separator, and in `name` the
// component after it, which points into `path`.
std::string_view SplitFolder(const std::string& path, const char** name);

// Calls `each` with the name of every entry of the folder open as `folder`
// (or, when that is -1, at `path`), read through a descriptor of its own so
// that `folder` stays where it is. Returns false when it cannot be opened.
bool ForEachName(int folder, const std::string& path,
                 const std::function<void(const char* name)>& each);

// Keeps the folder of the last file open, so that the next file in it is
// reached by its name alone: the system then walks the folder's path once
// rather than once for every file. A run's files come sorted, so most
// follow one another in the same folder.
class OpenFolder {
 public:
  // Opens folders with open's `flags` (O_DIRECTORY and O_CLOEXEC added).
  explicit OpenFolder(int flags) : flags_(flags) {}
  ~OpenFolder() { Close(); }
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  // Makes the folder of `path` the open one, and puts the last component of
  // `path` in `name`. Returns true when it was not open already, after
  // which fd() is -1, with errno set, when it could not be opened.
  bool For(const std::filesystem::path& path, const char** name);

  // Makes `fd`, open on the folder `folder`, the open one; it is this
  // object's from now on.
  void Adopt(std::string folder, int fd);

  int fd() const { return fd_; }
  // The folder's path, as the file's path spells it.
  const std::string& path() const { return folder_; }
  void Close();

 private:
  int flags_;
  std::string folder_;
  int fd_ = -1;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_POSIX_OPEN_FOLDER_H_
