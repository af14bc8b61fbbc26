#include "services/posix/descriptor.h"

#include <time.h>

#include <cerrno>
#include <cstdint>

#include "services/error.h"
#include "services/file_reading.h"

namespace norvale {
namespace {

// A read that the file system keeps answering with EAGAIN (a file locked
// elsewhere, on some network file systems) is tried again this many times,
// this far apart, and then reported.
constexpr int kReadRetries = 50;
constexpr long kReadRetryPauseNs = 10'000'000;

// Returns what is left of `fd` from `offset` on, as ReadToEnd reads it.
std::string ReadFrom(int fd, off_t offset, uint64_t size,
                     const std::filesystem::path& path) {
  int retries = 0;
  return ReadToEnd(
      size,
      [&](char* into, size_t room) {
        for (;;) {
          const ssize_t n = ::pread(fd, into, room, offset);
          if (n >= 0) return offset += n, static_cast<size_t>(n);
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

}  // namespace

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

std::string ReadOpenFile(int fd, const struct stat& st,
                         const std::filesystem::path& path) {
  struct stat now = st;
  for (int attempt = 0;; ++attempt) {
    const auto size = static_cast<uint64_t>(now.st_size);
    std::string content = ReadFrom(fd, 0, size, path);
    if (content.size() == size) return content;
    if (attempt == 1 || ::fstat(fd, &now) != 0) break;
  }
  throw Error("Could not read", path,
              "It changed while Norvale was reading it, so nothing is made "
              "of it");
}

}  // namespace norvale
