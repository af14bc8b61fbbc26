#include "services/posix/open_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "services/posix/descriptor.h"

namespace norvale {

std::string_view SplitFolder(const std::string& path, const char** name) {
  const size_t slash = path.rfind('/');
  *name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  return slash == std::string::npos ? std::string_view(".")
         : slash == 0               ? std::string_view("/")
                                    : std::string_view(path).substr(0, slash);
}

bool ForEachName(int folder, const std::string& path,
                 const std::function<void(const char* name)>& each) {
  Descriptor list(
      folder >= 0 ? ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                  : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  alignas(dirent64) char buffer[16 * 1024];
  for (ssize_t got;
       list.get() >= 0 &&
       (got = ::getdents64(list.get(), buffer, sizeof(buffer))) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      each(entry->d_name);
    }
  }
  return list.get() >= 0;
}

bool OpenFolder::For(const std::filesystem::path& path, const char** name) {
  const std::string_view folder = SplitFolder(path.native(), name);
  if (fd_ >= 0 && folder == folder_) return false;
  Close();
  folder_ = folder;
  fd_ = ::open(folder_.c_str(), flags_ | O_DIRECTORY | O_CLOEXEC);
  return true;
}

void OpenFolder::Adopt(std::string folder, int fd) {
  Close();
  folder_ = std::move(folder);
  fd_ = fd;
}

void OpenFolder::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace norvale
