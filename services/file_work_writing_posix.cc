// Writing, replacing and removing copies on POSIX, so that a name only ever
// shows whole content and only what was read is replaced or removed.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_set>

#include "services/copy_rules.h"
#include "services/error.h"
#include "services/file_work_posix.h"
#include "services/posix/descriptor.h"
#include "services/posix/temporary_files.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

constexpr char kRemoveAction[] = "Could not remove";

// Returns true when an errno says the call is not known to the disk.
bool Unsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Returns the Error for the file `path` that could not be made, for errno.
Error NameRefused(const fs::path& path) {
  return MakingError(kWriteAction, path,
                     std::error_code(errno, std::generic_category()), "file");
}

// Throws the Error for errno naming `path`, after removing `temporary` from
// the folder open as `folder`.
[[noreturn]] void FailRemoving(int folder, const std::string& temporary,
                               const fs::path& path) {
  const int saved = errno;
  ::unlinkat(folder, temporary.c_str(), 0);
  errno = saved;
  throw ErrnoError(kWriteAction, path);
}

// Creates a temporary file in the folder open as `folder`, on `disk`,
// holding `bytes`, on its disk where a whole flush would not reach it, and
// returns its name. It is made with `mode` less the umask; with `like`,
// with exactly the permissions and, where the user may keep them, the
// owner of that file. Throws Error naming `path`, leaving nothing behind.
std::string WriteTemporary(int folder, const Disk& disk, const fs::path& path,
                           std::string_view bytes, mode_t mode,
                           const struct stat* like = nullptr) {
  std::string temporary;
  const int raw = CreateTemporary(folder, mode, &temporary);
  if (raw < 0) throw ErrnoError(kWriteAction, path);
  Descriptor fd(raw);
  if (like != nullptr) {
    // Disks that keep no owners or permissions refuse these; the copy is
    // then as private as the disk makes every file.
    struct stat made;
    if (::fstat(fd.get(), &made) == 0 &&
        (made.st_uid != like->st_uid || made.st_gid != like->st_gid) &&
        ::fchown(fd.get(), like->st_uid, like->st_gid) != 0) {
      ::fchown(fd.get(), static_cast<uid_t>(-1), like->st_gid);
    }
    ::fchmod(fd.get(), like->st_mode & 07777);
  }
  if (!WriteAll(fd.get(), bytes) || (disk.fuse && ::fsync(fd.get()) != 0) ||
      fd.Close() != 0) {
    FailRemoving(folder, temporary, path);
  }
  return temporary;
}

// Gives the file `from` in the folder open as `folder` the name `to`, which
// must be free, by the best call on `disk` that refuses a taken name: a
// rename that refuses one; where `from` is a temporary name of Norvale's
// own, a hard link and the removal of that name; else by claiming `to`
// with an exclusive create and renaming over that claim, which so replaces
// only Norvale's own empty file (a run killed in between leaves it, which a
// later run replaces or removes). Returns false with errno set (EEXIST when
// `to` is taken), having moved nothing and left no claim.
bool MoveToFreeName(int folder, Disk& disk, const char* from, const char* to,
                    bool from_temporary, mode_t mode) {
  if (disk.noreplace_rename != Ability::kNo) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) {
      disk.noreplace_rename = Ability::kYes;
      return true;
    }
    if (!Unsupported(errno)) return false;
    disk.noreplace_rename = Ability::kNo;
  }
  // Removing the old name after a link acts on it by name, which only a
  // name of Norvale's own allows.
  if (from_temporary && disk.hard_links != Ability::kNo) {
    if (::linkat(folder, from, folder, to, 0) == 0) {
      disk.hard_links = Ability::kYes;
      ::unlinkat(folder, from, 0);
      return true;
    }
    // FAT and exFAT have no hard links, and say so with EPERM.
    if (!Unsupported(errno) && errno != EPERM) return false;
    disk.hard_links = Ability::kNo;
  }
  const int claim =
      ::openat(folder, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (claim < 0) return false;
  ::close(claim);
  if (::renameat(folder, from, folder, to) != 0) {
    const int saved = errno;
    ::unlinkat(folder, to, 0);
    errno = saved;
    return false;
  }
  return true;
}

// Gives the temporary file `temporary` in `folder` the name `name` (the last
// component of `path`) by a call that refuses a taken name on `disk`.
// Returns false, removing the temporary file, when the name is taken.
// Throws Error naming `path`, removing it too, on any other failure.
bool GiveName(int folder, Disk& disk, const std::string& temporary,
              const char* name, const fs::path& path, mode_t mode) {
  if (MoveToFreeName(folder, disk, temporary.c_str(), name, true, mode)) {
    return true;
  }
  const int saved = errno;
  ::unlinkat(folder, temporary.c_str(), 0);
  if (saved == EEXIST) return false;
  errno = saved;
  throw NameRefused(path);
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

// Returns true when `name` in `folder` is a regular file holding exactly
// `expected`, read whole without following a link.
bool HoldsExactly(int folder, const std::string& name,
                  std::string_view expected, const fs::path& path) {
  Descriptor fd(::openat(folder, name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != expected.size()) {
    return false;
  }
  try {
    return ReadOpenFile(fd.get(), st, path) == expected;
  } catch (const Error&) {
    return false;
  }
}

// Returns the name under which the file `temporary` in `folder`, holding
// what changed while Norvale replaced or removed a copy, stays: one that no
// later run removes as a leftover where that name is free, else its
// temporary name. Returns nothing when it is gone, so that no message names
// a file that is not there.
std::optional<std::string> KeepAside(int folder, Disk& disk,
                                     const std::string& temporary) {
  const std::string kept = KeptName(temporary);
  if (MoveToFreeName(folder, disk, temporary.c_str(), kept.c_str(), true,
                     0600)) {
    return kept;
  }
  struct stat st;
  if (::fstatat(folder, temporary.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return temporary;
}

// Returns the Error saying that the file at `path` changed while Norvale
// was `doing` ("replacing", "removing") it, after keeping what it then held
// under a name of its own, from `temporary` in `folder`.
Error KeptAside(int folder, Disk& disk, const std::string& temporary,
                const char* action, const char* doing, const fs::path& path) {
  const std::optional<std::string> kept = KeepAside(folder, disk, temporary);
  if (!kept) {
    return Error(action, path,
                 std::string("It changed while Norvale was ") + doing +
                     " it, and what it held then is gone");
  }
  return Error(action, path,
               std::string("It changed while Norvale was ") + doing +
                   " it; what it held is kept beside it as \"" + *kept + "\"");
}

Error ChangedMeanwhile(const fs::path& path) {
  return Error(kWriteAction, path,
               "It changed while Norvale was replacing it, so it is left as "
               "it is");
}

// Where a disk has no rename that refuses a taken name (every FUSE disk),
// a copy this small goes to its new name in one write call, which the
// system takes whole or not at all: a run killed after the create leaves an
// empty file, which the next run replaces, as it would the claim of a name.
// The other ways cost these disks dearly: a second file made and renamed
// over the claim (fusefat takes about 20 ms for every file it makes), or a
// hard link and an unlink (ntfs-3g took 2.4 times as long as cp -r and a
// flush of every file).
constexpr size_t kOneWrite = 4096;

// Creates `name` (the last component of `path`) in `folder` holding `bytes`
// with `mode` less the umask. Returns false when the name is taken; throws
// Error naming `path`, leaving nothing behind, on any other failure.
bool WriteInOneCall(int folder, const Disk& disk, const char* name,
                    const fs::path& path, std::string_view bytes, mode_t mode) {
  const int raw =
      ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (raw < 0) {
    if (errno == EEXIST) return false;
    throw NameRefused(path);
  }
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes) || (disk.fuse && ::fsync(fd.get()) != 0) ||
      fd.Close() != 0) {
    FailRemoving(folder, name, path);
  }
  return true;
}

}  // namespace

bool FileWork::WriteNewFile(const fs::path& path, std::string_view bytes,
                            Permissions permissions) {
  State& state = *state_;
  state.existing.Reset(-1);
  const char* name = nullptr;
  state.OpenCopyFolder(path, &name);
  const int folder = state.copy_folder.fd();
  Disk& disk = *state.copy_disk;
  // As private as the source, but always the user's to replace.
  const mode_t mode =
      permissions != 0 ? (permissions & 0777) | S_IRUSR | S_IWUSR : 0666;
  if (disk.unnamed_files != Ability::kNo) {
    const int raw =
        ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    // EISDIR is how systems older than unnamed files refuse them.
    if (raw < 0 && !Unsupported(errno) && errno != EISDIR) {
      throw ErrnoError(kWriteAction, path);
    }
    if (raw >= 0) {
      disk.unnamed_files = Ability::kYes;
      // An unnamed file vanishes with its descriptor, on every path out.
      Descriptor fd(raw);
      if (!WriteAll(fd.get(), bytes)) throw ErrnoError(kWriteAction, path);
      if (!LinkUnnamed(fd.get(), folder, name)) {
        if (errno == EEXIST) return false;
        throw NameRefused(path);
      }
      if (fd.Close() != 0) {
        const int saved = errno;
        ::unlinkat(folder, name, 0);
        errno = saved;
        throw ErrnoError(kWriteAction, path);
      }
      state.Written(name);
      return true;
    }
    disk.unnamed_files = Ability::kNo;
  }
  if (disk.noreplace_rename == Ability::kNo && bytes.size() <= kOneWrite) {
    if (!WriteInOneCall(folder, disk, name, path, bytes, mode)) return false;
    state.Written(name);
    return true;
  }
  const std::string temporary = WriteTemporary(folder, disk, path, bytes, mode);
  if (!GiveName(folder, disk, temporary, name, path, mode)) return false;
  state.Written(name);
  return true;
}

void FileWork::ReplaceFile(const fs::path& path, std::string_view bytes,
                           std::string_view expected, const FileStamp* unread) {
  // No file is online only here, so every copy replaced was read.
  if (unread != nullptr) {
    throw Error(kWriteAction, path, "It was not read, so it is left as it is");
  }
  State& state = *state_;
  // A FUSE daemon keeps a file removed while open under a name of its own.
  state.existing.Reset(-1);
  const char* name = nullptr;
  state.OpenCopyFolder(path, &name);
  const int fd = state.copy_folder.fd();
  Disk& disk = *state.copy_disk;
  struct stat st;
  if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    throw ErrnoError(kWriteAction, path);
  }
  // Root may write anything, so the mode itself is asked as well; a disk
  // mounted read-only is named as such.
  const bool may_write =
      ::faccessat(fd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
  if (!may_write && errno == EROFS) throw ErrnoError(kWriteAction, path);
  if (!may_write || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw Error(kWriteAction, path, kReadOnlyReason);
  }
  // The new copy keeps the old one's permissions and owner.
  const std::string temporary =
      WriteTemporary(fd, disk, path, bytes, st.st_mode & 0777, &st);
  if (disk.exchange != Ability::kNo) {
    // One call swaps the two names; what comes out is then checked to be
    // what was read, and swapped back when it is not.
    if (::renameat2(fd, temporary.c_str(), fd, name, RENAME_EXCHANGE) == 0) {
      disk.exchange = Ability::kYes;
      if (!HoldsExactly(fd, temporary, expected, path)) {
        if (::renameat2(fd, temporary.c_str(), fd, name, RENAME_EXCHANGE) !=
            0) {
          throw KeptAside(fd, disk, temporary, kWriteAction, "replacing", path);
        }
        ::unlinkat(fd, temporary.c_str(), 0);
        throw ChangedMeanwhile(path);
      }
      ::unlinkat(fd, temporary.c_str(), 0);
      state.Written(name);
      return;
    }
    if (!Unsupported(errno)) FailRemoving(fd, temporary, path);
    disk.exchange = Ability::kNo;
  }
  // Without a swap, the old copy is held open and checked once more just
  // before the new one is renamed over it, then read again through what
  // was held; when it is not what was read, what it held is written back.
  Descriptor old(
      ::openat(fd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat held_st, now;
  bool unchanged = false;
  if (old.get() >= 0 && ::fstat(old.get(), &held_st) == 0) {
    try {
      unchanged = ReadOpenFile(old.get(), held_st, path) == expected &&
                  ::fstatat(fd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                  now.st_ino == held_st.st_ino;
    } catch (const Error&) {
    }
  }
  if (!unchanged) {
    ::unlinkat(fd, temporary.c_str(), 0);
    throw ChangedMeanwhile(path);
  }
  if (::renameat(fd, temporary.c_str(), fd, name) != 0) {
    FailRemoving(fd, temporary, path);
  }
  state.Written(name);
  std::string held;
  if (::fstat(old.get(), &held_st) != 0)
    throw ErrnoError("Could not read", path);
  try {
    held = ReadOpenFile(old.get(), held_st, path);
  } catch (const Error&) {
    throw Error(kWriteAction, path,
                "It changed while Norvale was replacing it, and what it held "
                "then could not be read back whole");
  }
  if (held != expected) {
    const std::string back =
        WriteTemporary(fd, disk, path, held, held_st.st_mode & 0777, &held_st);
    if (::renameat(fd, back.c_str(), fd, name) != 0) {
      throw KeptAside(fd, disk, back, kWriteAction, "replacing", path);
    }
    throw ChangedMeanwhile(path);
  }
}

bool FileWork::RemoveCopy(const fs::path& path, const FileId* folder_id,
                          std::string_view expected) {
  State& state = *state_;
  state.existing.Reset(-1);
  const char* name = nullptr;
  state.OpenCopyFolder(path, &name);
  const int folder = state.copy_folder.fd();
  // The folder the caller judged, not another put at its path meanwhile,
  // such as a link leading out of the destination.
  if (folder_id != nullptr && state.CopyFolderId() != *folder_id) {
    throw Error(kRemoveAction, path,
                "Its folder changed while Norvale was removing it, so it is "
                "left as it is");
  }
  Disk& disk = *state.copy_disk;
  Descriptor fd(
      ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ELOOP) return false;
    throw ErrnoError(kRemoveAction, path);
  }
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError(kRemoveAction, path);
  if (!MayRemove(Found(st))) return false;
  const std::string content = ReadOpenFile(fd.get(), st, path);
  if (!IsOwnCopy(content, expected)) return false;
  if (look_only_) {
    // A run that only looks meets what the removal would: a folder the
    // user may not change, or a disk mounted read-only.
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
      throw ErrnoError(kRemoveAction, path);
    }
    return true;
  }
  // A file has no removal by descriptor: it is moved to a free name of
  // Norvale's own, never over another file, and looked at there once more
  // before it goes. A run killed meanwhile leaves it under that name, as a
  // leftover a later run removes.
  std::string temporary;
  bool moved = false;
  for (int tries = 0; !moved && tries < kTemporaryTries; ++tries) {
    temporary = TemporaryName();
    moved = MoveToFreeName(folder, disk, name, temporary.c_str(), false,
                           st.st_mode & 0777);
    if (!moved && errno != EEXIST) break;
  }
  if (!moved) {
    if (errno == ENOENT) return false;
    throw ErrnoError(kRemoveAction, path);
  }
  struct stat now;
  const bool same =
      ::fstatat(folder, temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      (!disk.numbers_last ||
       (now.st_dev == st.st_dev && now.st_ino == st.st_ino)) &&
      HoldsExactly(folder, temporary, content, path);
  if (!same) {
    // Another program put something else there meanwhile: it goes back,
    // unless its name was taken again meanwhile too, or it is gone.
    if (MoveToFreeName(folder, disk, temporary.c_str(), name, true,
                       st.st_mode & 0777) ||
        errno == ENOENT) {
      return false;
    }
    throw KeptAside(folder, disk, temporary, kRemoveAction, "removing", path);
  }
  if (::unlinkat(folder, temporary.c_str(), 0) != 0) {
    const int saved = errno;
    MoveToFreeName(folder, disk, temporary.c_str(), name, true,
                   st.st_mode & 0777);
    errno = saved;
    throw ErrnoError(kRemoveAction, path);
  }
  state.Changed();
  return true;
}

bool FileWork::RemoveEmptyFolder(const fs::path& folder,
                                 const FileId* parent_id) {
  State& state = *state_;
  const char* name = nullptr;
  state.OpenCopyFolder(folder, &name);
  if (parent_id != nullptr && state.CopyFolderId() != *parent_id) {
    throw Error("Could not remove the folder", folder,
                "The folder holding it changed while Norvale was removing "
                "it, so it is left as it is");
  }
  if (look_only_) {
    if (::faccessat(state.copy_folder.fd(), ".", W_OK | X_OK, AT_EACCESS) !=
        0) {
      throw ErrnoError("Could not remove the folder", folder);
    }
    return true;
  }
  if (::unlinkat(state.copy_folder.fd(), name, AT_REMOVEDIR) == 0) {
    // What went with it is no longer there to flush; its parent is.
    std::unordered_set<std::string>& written = state.copy_disk->written_folders;
    const std::string gone = state.copy_folder.path() + "/" + name;
    for (auto at = written.begin(); at != written.end();) {
      const bool below =
          at->compare(0, gone.size(), gone) == 0 &&
          (at->size() == gone.size() || (*at)[gone.size()] == '/');
      at = below ? written.erase(at) : std::next(at);
    }
    state.Changed();
    return true;
  }
  // Not empty, gone, a link or a file, or a disk mounted on it: left.
  if (errno == ENOTEMPTY || errno == EEXIST || errno == ENOENT ||
      errno == ENOTDIR || errno == EBUSY) {
    return false;
  }
  throw ErrnoError("Could not remove the folder", folder);
}

}  // namespace norvale
