#include "services/posix/temporary_files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "ini/ini_format.h"
#include "services/error.h"
#include "services/posix/descriptor.h"
#include "services/posix/open_folder.h"

namespace norvale {
namespace {

constexpr std::string_view kStart = "~NV", kEnd = ".TMP";
constexpr size_t kDigits = 5;

// No compact copy a run cuts short is larger than a shortcut; a larger file
// is not read to find out.
constexpr off_t kLargestLeftover = 1 << 20;

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kStart.size() + kDigits + kEnd.size() ||
      name.substr(0, kStart.size()) != kStart ||
      name.substr(name.size() - kEnd.size()) != kEnd) {
    return false;
  }
  for (const char c : name.substr(kStart.size(), kDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Returns true when the file open as `fd`, named `name`, is a leftover of
// Norvale's by what it holds and when it was written.
bool IsLeftover(int fd, const std::string& name, const timespec& start,
                struct stat* st) {
  if (fd < 0 || ::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) ||
      !Before(st->st_mtim, start) || st->st_size > kLargestLeftover) {
    return false;
  }
  try {
    return IsCompactIniStart(ReadOpenFile(fd, *st, name));
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

std::string TemporaryName() {
  uint32_t number = 0;
  if (::getrandom(&number, sizeof(number), GRND_NONBLOCK) !=
      static_cast<ssize_t>(sizeof(number))) {
    // Only a system too early in its start to have gathered randomness
    // gets here; the time and a count still keep names apart.
    static std::atomic<uint32_t> count{0};
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    number = (static_cast<uint32_t>(now.tv_nsec) ^
              static_cast<uint32_t>(::getpid()) << 12) +
             count++ * 2654435761u;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name(kStart);
  for (size_t i = 0; i < kDigits; ++i, number >>= 4) name += kHex[number & 0xF];
  return name += kEnd;
}

int CreateTemporary(int folder, mode_t mode, std::string* name) {
  int fd = -1;
  for (int tries = 0; tries < kTemporaryTries; ++tries) {
    *name = TemporaryName();
    fd = ::openat(folder, name->c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) break;
  }
  return fd;
}

std::string KeptName(std::string_view temporary) {
  std::string kept(temporary);
  kept.replace(kept.size() - kEnd.size(), kEnd.size(), ".KEPT");
  return kept;
}

bool RemoveLeftovers(int folder, const timespec& start) {
  std::vector<std::string> names;
  ForEachName(folder, "", [&](const char* name) {
    if (IsTemporaryName(name)) names.emplace_back(name);
  });
  bool removed = false;
  for (const std::string& name : names) {
    Descriptor fd(::openat(folder, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat read, now;
    // What is removed is what was judged: the same file, still open, and
    // unchanged since.
    if (IsLeftover(fd.get(), name, start, &read) &&
        ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_ino == read.st_ino && now.st_size == read.st_size &&
        !Before(read.st_mtim, now.st_mtim) &&
        ::unlinkat(folder, name.c_str(), 0) == 0) {
      removed = true;
    }
  }
  return removed;
}

}  // namespace norvale
