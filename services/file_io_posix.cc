// POSIX implementation of the file primitives.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>

#include "services/error.h"
#include "services/file_io.h"
#include "services/file_reading.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// A read that the file system keeps answering with EAGAIN (a file locked
// elsewhere, on some network file systems) is tried again this many times,
// this far apart, and then reported.
constexpr int kReadRetries = 50;
constexpr long kReadRetryPauseNs = 10'000'000;

// Closes a descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  // Closes now and returns close's result, which can report a lost write.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Returns false with errno set when not every byte could be written.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Returns the rest of the open regular file `fd`, whose size fstat gave as
// `size`, naming `path` in any Error.
std::string ReadDescriptor(int fd, off_t size, const fs::path& path) {
  int retries = 0;
  return ReadToEnd(
      static_cast<uint64_t>(size),
      [&](char* into, size_t room) {
        for (;;) {
          const ssize_t n = ::read(fd, into, room);
          if (n >= 0) return static_cast<size_t>(n);
          if (errno == EINTR) continue;
          if (errno != EAGAIN || retries++ >= kReadRetries) {
            throw ErrnoError("Could not read", path);
          }
          const timespec pause = {0, kReadRetryPauseNs};
          ::nanosleep(&pause, nullptr);
        }
      },
      path);
}

// Returns a name in the folder of `path` that does not end in ".url", so a
// search never lists a temporary file as a shortcut.
fs::path TemporaryName(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  std::string name = ".norvale-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++) + ".tmp";
  return path.parent_path() / name;
}

// Creates a temporary file beside `path`, writes `bytes` to it and closes
// it; returns its name. Throws Error naming `path`, leaving nothing behind.
fs::path WriteTemporary(const fs::path& path, std::string_view bytes) {
  fs::path temporary;
  int raw = -1;
  do {
    temporary = TemporaryName(path);
    raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 0666);
  } while (raw < 0 && errno == EEXIST);
  if (raw < 0) throw ErrnoError("Could not write", path);
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes) || fd.Close() != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    throw ErrnoError("Could not write", path);
  }
  return temporary;
}

// WriteNewFile for file systems without unnamed files (FAT, many network
// and FUSE ones): the bytes go under a temporary name first.
bool WriteNewFileByName(const fs::path& path, std::string_view bytes) {
  const fs::path temporary = WriteTemporary(path, bytes);
  bool named = ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(),
                           RENAME_NOREPLACE) == 0;
  // Without a rename that refuses a taken name, a link does the same; the
  // temporary name is removed after it.
  if (!named && (errno == EINVAL || errno == ENOSYS)) {
    named = ::link(temporary.c_str(), path.c_str()) == 0;
  }
  const int saved = errno;
  ::unlink(temporary.c_str());
  if (named) return true;
  if (saved == EEXIST) return false;
  errno = saved;
  throw ErrnoError("Could not write", path);
}

// Gives the unnamed file open as `fd` the name `name` in the folder open as
// `folder`, refusing a taken name. Returns false with errno set (EEXIST for
// a taken name) on failure.
bool LinkUnnamed(int fd, int folder, const char* name) {
  // Linking the descriptor itself needs a privilege on older systems; its
  // entry in /proc works for everyone.
  static std::atomic<bool> direct{true};
  if (direct.load(std::memory_order_relaxed)) {
    if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
  }
  const std::string entry = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, entry.c_str(), folder, name, AT_SYMLINK_FOLLOW) != 0) {
    return false;
  }
  direct.store(false, std::memory_order_relaxed);
  return true;
}

// The folder of the last file read, or of the last copy made, kept open so
// that the next file in it is reached by its name alone: the system then
// walks the folder's path once rather than once for every file. A run's
// files come sorted, so most follow one another in the same folder.
class OpenFolder {
 public:
  ~OpenFolder() { Close(); }

  // Returns a descriptor of the folder of `path`, and in `name` its last
  // component, which points into `path`; -1 with errno set when the folder
  // cannot be opened.
  int For(const fs::path& path, const char** name) {
    const std::string& text = path.native();
    const size_t slash = text.rfind('/');
    *name = text.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    const std::string_view folder =
        slash == std::string::npos ? std::string_view(".")
        : slash == 0               ? std::string_view("/")
                                   : std::string_view(text).substr(0, slash);
    if (fd_ >= 0 && folder == folder_) return fd_;
    Close();
    folder_ = folder;
    fd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd_;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string folder_;
  int fd_ = -1;
};

OpenFolder source_folder, copy_folder;

}  // namespace

std::optional<FileId> IdentifyFile(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino)};
}

std::string ReadWholeFile(const fs::path& path) {
  const char* name = nullptr;
  const int folder = source_folder.For(path, &name);
  if (folder < 0) throw ErrnoError("Could not open", path);
  // O_NONBLOCK keeps open from waiting on a pipe; such files are refused below.
  Descriptor fd(::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError("Could not open", path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  if (!S_ISREG(st.st_mode)) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  return ReadDescriptor(fd.get(), st.st_size, path);
}

std::string ReadReplaceableFile(const fs::path& path) {
  Descriptor fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ELOOP) {
      throw Error("Could not write", path,
                  "It is a link, so it is left as it is");
    }
    throw ErrnoError("Could not write", path);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  if (S_ISDIR(st.st_mode)) {
    throw Error("Could not write", path, "A folder of that name is in the way");
  }
  if (!S_ISREG(st.st_mode)) {
    throw Error("Could not write", path,
                "It is not a regular file, so it is left as it is");
  }
  // Root may write anything, so the mode itself is asked as well.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::faccessat(AT_FDCWD, path.c_str(), W_OK,
                  AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
    throw Error("Could not write", path,
                "It is read-only, so it is left as it is");
  }
  return ReadDescriptor(fd.get(), st.st_size, path);
}

bool WriteNewFile(const fs::path& path, std::string_view bytes) {
  const char* name = nullptr;
  const int folder = copy_folder.For(path, &name);
  if (folder < 0) throw ErrnoError("Could not write", path);
  const int raw = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (raw < 0) {
    // EISDIR is how systems older than unnamed files refuse them.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
      return WriteNewFileByName(path, bytes);
    }
    throw ErrnoError("Could not write", path);
  }
  // An unnamed file vanishes with its descriptor, on every path out.
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes)) throw ErrnoError("Could not write", path);
  if (!LinkUnnamed(fd.get(), folder, name)) {
    if (errno == EEXIST) return false;
    throw ErrnoError("Could not write", path);
  }
  if (fd.Close() != 0) {
    const int saved = errno;
    ::unlinkat(folder, name, 0);
    errno = saved;
    throw ErrnoError("Could not write", path);
  }
  return true;
}

void ReplaceFile(const fs::path& path, std::string_view bytes) {
  const fs::path temporary = WriteTemporary(path, bytes);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    throw ErrnoError("Could not write", path);
  }
}

void CloseOpenFolders() {
  source_folder.Close();
  copy_folder.Close();
}

void FlushFileSystem(const fs::path& folder) {
  constexpr char kAction[] = "Could not flush the copies to the disk at";
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError(kAction, folder);
  if (::syncfs(fd.get()) != 0) throw ErrnoError(kAction, folder);
}

}  // namespace norvale
