// Stands in front of the C library's read, pread, write, getdents64, fstatat,
// fstatfs, openat, renameat2, renameat, linkat, unlinkat, fsync and syncfs,
// and of operator new, to show the faults a test plans (test_faults.h).
// Definitions in the program come before the C library's, so the services
// linked into it call these.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "testing/test_faults.h"

namespace {

std::atomic<bool> active{false};
norvale::faults::Plan plan;
norvale::faults::Seen observed;

}  // namespace

// The C library's own function of that name.
#define NEXT(name) \
  reinterpret_cast<decltype(&::name)>(::dlsym(RTLD_NEXT, #name))

norvale::faults::Scoped::Scoped(const Plan& p) {
  plan = p;
  observed = Seen();
  active = true;
}

norvale::faults::Scoped::~Scoped() { active = false; }

norvale::faults::Seen norvale::faults::Scoped::seen() const { return observed; }

void norvale::faults::EndReadsAt(size_t offset) { plan.reads_end_at = offset; }

// Returns the count a read at `offset` may give under the plan, or -1 with
// errno set when it is not ready.
static ssize_t Readable(size_t count, off_t offset) {
  if (active && plan.read_not_ready > 0)
    return --plan.read_not_ready, errno = EAGAIN, -1;
  if (active && plan.read_at_most != 0)
    count = std::min(count, plan.read_at_most);
  if (active && plan.reads_end_at != 0) {
    const auto end = static_cast<off_t>(plan.reads_end_at);
    count =
        offset >= end ? 0 : std::min(count, static_cast<size_t>(end - offset));
  }
  return static_cast<ssize_t>(count);
}

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  const ssize_t may = Readable(count, ::lseek(fd, 0, SEEK_CUR));
  return may < 0 ? may : NEXT(read)(fd, buffer, static_cast<size_t>(may));
}

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  const ssize_t may = Readable(count, offset);
  return may < 0 ? may
                 : NEXT(pread)(fd, buffer, static_cast<size_t>(may), offset);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  if (active) ++observed.writes;
  if (active && plan.disk_full_at_write > 0 && --plan.disk_full_at_write == 0)
    return errno = ENOSPC, -1;
  if (active && plan.kill_in_write > 0 && --plan.kill_in_write == 0) {
    if (count > 4096 || ::lseek(fd, 0, SEEK_CUR) != 0)
      NEXT(write)(fd, buffer, count / 2);
    ::kill(::getpid(), SIGKILL);
  }
  return NEXT(write)(fd, buffer, count);
}

// Runs the plan's file made at `name`, just before Norvale gives a file
// that name.
static void BeforeNameTaken(const char* name) {
  if (active && plan.before_name_taken) plan.before_name_taken(name);
}

extern "C" int openat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  // The mode is there only with some flags, but reading it is harmless.
  const mode_t mode = va_arg(arguments, mode_t);
  va_end(arguments);
  if (active && plan.no_unnamed_files && (flags & O_TMPFILE) == O_TMPFILE)
    return errno = EOPNOTSUPP, -1;
  if (active && plan.before_open) plan.before_open(path);
  if ((flags & O_CREAT) != 0) BeforeNameTaken(path);
  return NEXT(openat)(folder, path, flags, mode);
}

// Runs the plan's change of a file once, just before a rename.
static void BeforeRename() {
  if (active) ++observed.renames;
  if (!active || !plan.before_rename) return;
  const std::function<void()> change = std::move(plan.before_rename);
  plan.before_rename = nullptr;
  change();
}

// Kills the process when the plan says this rename or unlink is the one.
static void MaybeKilledAtRemoval() {
  if (active && plan.kill_at_removal > 0 && --plan.kill_at_removal == 0) {
    ::kill(::getpid(), SIGKILL);
  }
}

extern "C" int unlinkat(int folder, const char* name, int flags) {
  MaybeKilledAtRemoval();
  return NEXT(unlinkat)(folder, name, flags);
}

extern "C" int renameat2(int from_folder, const char* from, int to_folder,
                         const char* to, unsigned int flags) {
  MaybeKilledAtRemoval();
  if (active && plan.no_noreplace_rename && flags != 0)
    return errno = EINVAL, -1;
  BeforeRename();
  BeforeNameTaken(to);
  return NEXT(renameat2)(from_folder, from, to_folder, to, flags);
}

extern "C" int renameat(int from_folder, const char* from, int to_folder,
                        const char* to) {
  MaybeKilledAtRemoval();
  BeforeRename();
  BeforeNameTaken(to);
  return NEXT(renameat)(from_folder, from, to_folder, to);
}

extern "C" int linkat(int from_folder, const char* from, int to_folder,
                      const char* to, int flags) {
  if (active && plan.no_descriptor_link && (flags & AT_EMPTY_PATH) != 0)
    return errno = ENOENT, -1;
  if (active) ++observed.renames;
  if (active && plan.no_hard_links) return errno = EPERM, -1;
  BeforeNameTaken(to);
  return NEXT(linkat)(from_folder, from, to_folder, to, flags);
}

extern "C" int fsync(int fd) {
  struct stat st;
  char path[4096];
  const std::string entry = "/proc/self/fd/" + std::to_string(fd);
  if (active && ::fstat(fd, &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      ++observed.fsyncs;
    } else {
      const ssize_t length = ::readlink(entry.c_str(), path, sizeof(path));
      observed.folders_fsynced.emplace(path, length > 0 ? length : 0);
    }
  }
  return NEXT(fsync)(fd);
}

extern "C" ssize_t getdents64(int fd, void* buffer, size_t size) {
  const ssize_t got = NEXT(getdents64)(fd, buffer, size);
  for (ssize_t at = 0; active && plan.types_unknown && at < got;) {
    auto* entry = reinterpret_cast<dirent64*>(static_cast<char*>(buffer) + at);
    entry->d_type = DT_UNKNOWN;
    at += entry->d_reclen;
  }
  return got;
}

extern "C" int fstatat(int folder, const char* name, struct stat* st,
                       int flags) {
  if (active && plan.look_error != 0 && plan.look_fails_at == name)
    return errno = plan.look_error, -1;
  return NEXT(fstatat)(folder, name, st, flags);
}

extern "C" int fstatfs(int fd, struct statfs* info) {
  const int result = NEXT(fstatfs)(fd, info);
  if (active && plan.numbers_made_up && result == 0) info->f_type = 0x4d44;
  return result;
}

extern "C" int syncfs(int fd) {
  if (active && plan.before_flush) plan.before_flush();
  if (active) ++observed.flushes;
  if (active && plan.flush_error != 0) return errno = plan.flush_error, -1;
  return NEXT(syncfs)(fd);
}

void* operator new(size_t size) {
  // Only the thread reading under a plan allocates this much.
  if (active)
    observed.largest_allocation = std::max(observed.largest_allocation, size);
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
