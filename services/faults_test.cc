// Stands in front of the C library's read, write, open, renameat2 and syncfs,
// and of operator new, to show the faults a test plans (test_faults.h).
// Definitions in the program come before the C library's, so the services
// linked into it call these.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <new>

#include "services/test_faults.h"

namespace norvale {
namespace faults {
namespace {

std::atomic<bool> active{false};
Plan plan;
std::atomic<size_t> flushes{0};
std::atomic<size_t> largest{0};

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

Scoped::Scoped(const Plan& p) {
  plan = p;
  flushes = 0;
  largest = 0;
  active = true;
}

Scoped::~Scoped() { active = false; }

Seen Scoped::seen() const { return {flushes, largest}; }

}  // namespace faults
}  // namespace norvale

using norvale::faults::active;
using norvale::faults::Next;
using norvale::faults::plan;

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (active) {
    if (plan.read_never_ready) {
      errno = EAGAIN;
      return -1;
    }
    if (plan.read_at_most != 0 && count > plan.read_at_most) {
      count = plan.read_at_most;
    }
  }
  return next(fd, buffer, count);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (active && plan.kill_in_write > 0 && --plan.kill_in_write == 0) {
    next(fd, buffer, count / 2);
    ::kill(::getpid(), SIGKILL);
  }
  return next(fd, buffer, count);
}

extern "C" int open(const char* path, int flags, ...) {
  static const auto next = Next<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
  if ((flags & O_CREAT) != 0 || unnamed) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (active && unnamed && plan.no_unnamed_files) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return next(path, flags, mode);
}

extern "C" int renameat2(int from_folder, const char* from, int to_folder,
                         const char* to, unsigned int flags) {
  static const auto next =
      Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  if (active && plan.no_noreplace_rename && flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return next(from_folder, from, to_folder, to, flags);
}

extern "C" int syncfs(int fd) {
  static const auto next = Next<int (*)(int)>("syncfs");
  if (active) {
    ++norvale::faults::flushes;
    if (plan.flush_error != 0) {
      errno = plan.flush_error;
      return -1;
    }
  }
  return next(fd);
}

void* operator new(size_t size) {
  if (active) {
    size_t seen = norvale::faults::largest;
    while (size > seen &&
           !norvale::faults::largest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
