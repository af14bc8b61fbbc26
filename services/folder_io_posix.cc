// POSIX implementation of the folder primitives.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "services/folder_io.h"
#include "services/posix/open_folder.h"

namespace norvale {

namespace fs = std::filesystem;

FileKind KindOf(const fs::path& path, std::error_code& ec) {
  const fs::file_status status = fs::status(path, ec);
  if (ec) return FileKind::kNone;
  if (fs::is_directory(status)) return FileKind::kFolder;
  if (fs::is_regular_file(status)) return FileKind::kFile;
  return FileKind::kOther;
}

std::vector<FolderEntry> ListFolder(const fs::path& folder,
                                    std::error_code& ec) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    ec.assign(errno, std::generic_category());
    return {};
  }
  std::vector<FolderEntry> entries = ListOpenFolder(fd, ec);
  ::close(fd);
  return entries;
}

std::vector<FolderEntry> ListOpenFolder(int fd, std::error_code& ec) {
  ec.clear();
  std::vector<FolderEntry> entries;
  // The system's own listing calls, read in large pieces: a search looks at
  // every entry of a tree, and the type usually comes with the name.
  alignas(dirent64) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof(buffer));
    if (got < 0) {
      ec.assign(errno, std::generic_category());
      break;
    }
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      FolderEntry listed{std::string(name), FileKind::kOther, false, {}};
      struct stat st;
      if (entry->d_type == DT_DIR) {
        listed.kind = FileKind::kFolder;
      } else if (entry->d_type == DT_REG) {
        listed.kind = FileKind::kFile;
      } else if (entry->d_type == DT_LNK) {
        listed.link = true;
      } else if (entry->d_type == DT_UNKNOWN) {
        // Some file systems leave the type to be asked. An entry that
        // cannot be asked may be a folder, so it is listed as unknown for
        // the caller to decide; one that vanished meanwhile is nothing.
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;
          listed.kind = FileKind::kUnknown;
          listed.error.assign(errno, std::generic_category());
        } else if (S_ISDIR(st.st_mode)) {
          listed.kind = FileKind::kFolder;
        } else if (S_ISREG(st.st_mode)) {
          listed.kind = FileKind::kFile;
        } else {
          listed.link = S_ISLNK(st.st_mode);
        }
      }
      // A link counts when it leads to a regular file, and is never
      // followed to a folder. One whose target cannot be reached, dangling
      // included, is unknown: it may stand for a shortcut.
      if (listed.link && ::fstatat(fd, entry->d_name, &st, 0) == 0) {
        if (S_ISREG(st.st_mode)) listed.kind = FileKind::kFile;
      } else if (listed.link) {
        const int why = errno;
        if (why == ENOENT &&
            ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT) {
          continue;  // The link itself vanished.
        }
        listed.kind = FileKind::kUnknown;
        listed.error.assign(why, std::generic_category());
      }
      entries.push_back(std::move(listed));
    }
  }
  return entries;
}

bool MakeFolder(const fs::path& folder, std::error_code& ec) {
  if (fs::create_directory(folder, ec)) return true;
  if (!ec) return false;
  // Made meanwhile by another: the folder is there, which is what counts.
  const std::error_code create_error = ec;
  if (fs::is_directory(folder, ec)) {
    ec.clear();
    return false;
  }
  ec = create_error;
  return false;
}

}  // namespace norvale
