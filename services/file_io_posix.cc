// POSIX implementation of the file primitives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "services/error.h"
#include "services/file_io.h"

namespace norvale {
namespace {

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

// Returns a name in the folder of `path` that does not end in ".url", so a
// search never lists a temporary file as a shortcut.
std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::string name = ".norvale-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++) + ".tmp";
  return path.parent_path() / name;
}

}  // namespace

std::optional<FileId> IdentifyFile(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino)};
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  // O_NONBLOCK keeps open from waiting on a pipe; such files are refused below.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError("Could not open", path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  if (!S_ISREG(st.st_mode)) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  // One byte more than the size asks for the end too, so a file read whole
  // takes one read; a file that grew meanwhile is still read to its end.
  std::string content;
  content.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
  size_t filled = 0;
  for (;;) {
    const ssize_t n =
        ::read(fd.get(), content.data() + filled, content.size() - filled);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw ErrnoError("Could not read", path);
    }
    filled += static_cast<size_t>(n);
    // Having all the size promised and less than asked for means the end;
    // anything short of the size (a short read, a file without a size such
    // as those of /proc) is read on to the end.
    if (n == 0 ||
        (st.st_size > 0 && filled >= static_cast<size_t>(st.st_size) &&
         filled < content.size())) {
      break;
    }
    content.resize(content.size() * 2);
  }
  content.resize(filled);
  return content;
}

bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes) {
  // O_EXCL fails on any name that is taken, links included, so this never
  // writes through a link or over an existing file.
  const int raw =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (raw < 0) {
    if (errno == EEXIST) return false;
    throw ErrnoError("Could not write", path);
  }
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes) || fd.Close() != 0) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
    throw ErrnoError("Could not write", path);
  }
  return true;
}

void ReplaceFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary;
  int raw = -1;
  do {
    temporary = TemporaryName(path);
    raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 0666);
  } while (raw < 0 && errno == EEXIST);
  if (raw < 0) throw ErrnoError("Could not write", path);
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes) || fd.Close() != 0 ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    throw ErrnoError("Could not write", path);
  }
}

}  // namespace norvale
