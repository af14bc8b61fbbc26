// POSIX implementation of the file primitives.
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

// statfs's type of every FUSE mount (fuse and fuseblk alike).
constexpr long kFuseMagic = 0x65735546;

constexpr char kWriteAction[] = "Could not write";
constexpr char kFlushAction[] = "Could not flush the copies to the disk at";

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

// What a disk turned out to allow, learned from the first try on it, so
// that no fallback is tried again for every shortcut.
enum class Ability : char { kUnknown, kYes, kNo };

struct Disk {
  // syncfs reaches no FUSE daemon, and FUSE inode numbers are given per
  // name looked up, so they identify no file.
  bool fuse = false;
  Ability unnamed_files = Ability::kUnknown;
  Ability noreplace_rename = Ability::kUnknown;
  Ability hard_links = Ability::kUnknown;
  Ability exchange = Ability::kUnknown;
  Ability ignores_case = Ability::kUnknown;
  // A folder written to on it, for the flush of the whole disk; on FUSE,
  // every folder written to, each flushed on its own.
  std::unordered_set<std::string> written_folders;
};

// What one run has learned and done, forgotten when the next one begins.
struct FileWork {
  std::unordered_map<dev_t, Disk> disks;
  std::unordered_set<std::string> folders_made;
  std::unordered_set<std::string> folders_cleared;
  timespec start = {0, 0};
};

FileWork work;

// Returns the disk of the open file `fd`, whose device is `device`.
Disk& DiskOf(dev_t device, int fd) {
  const auto found = work.disks.find(device);
  if (found != work.disks.end()) return found->second;
  Disk& disk = work.disks[device];
  struct statfs info;
  disk.fuse = ::fstatfs(fd, &info) == 0 && info.f_type == kFuseMagic;
  return disk;
}

// Returns the text of `path` up to its last separator, and in `name` the
// component after it, which points into `path`.
std::string_view SplitFolder(const std::string& path, const char** name) {
  const size_t slash = path.rfind('/');
  *name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  return slash == std::string::npos ? std::string_view(".")
         : slash == 0               ? std::string_view("/")
                                    : std::string_view(path).substr(0, slash);
}

// Returns `name` in capitals, as a disk that ignores letter case compares
// names; bytes that are not UTF-8 are kept as they are.
std::string Capitals(std::string_view name) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const unsigned char lead = static_cast<unsigned char>(name[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    bool valid = length != 0 && i + length <= name.size();
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(name[i + k]);
      valid = (next >> 6) == 0x2;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += name[i++];
      continue;
    }
    const uint32_t upper = utf8 != nullptr
                               ? static_cast<uint32_t>(::towupper_l(code, utf8))
                           : (code >= 'a' && code <= 'z') ? code - 32
                                                          : code;
    // A capital of another length is left alone, as such disks do.
    const uint32_t floor = length == 1   ? 0
                           : length == 2 ? 0x80
                           : length == 3 ? 0x800
                                         : 0x10000;
    const uint32_t limit = length == 1   ? 0x80
                           : length == 2 ? 0x800
                           : length == 3 ? 0x10000
                                         : 0x110000;
    const uint32_t c = upper >= floor && upper < limit ? upper : code;
    if (length == 1) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>((0xF00 >> length) | (c >> (6 * (length - 1))));
      for (size_t k = length - 1; k-- > 0;) {
        out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
      }
    }
    i += length;
  }
  return out;
}

// Returns true when the disk ignores letter case, found out once by looking
// up the existing file `path` under its name with the ASCII case swapped.
bool IgnoresCase(Disk& disk, const std::string& path) {
  if (disk.ignores_case == Ability::kUnknown) {
    std::string swapped = path;
    bool changed = false;
    for (size_t i = path.rfind('/') + 1; i < swapped.size(); ++i) {
      char& c = swapped[i];
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 32), changed = true;
      else if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c + 32), changed = true;
    }
    struct stat st;
    if (changed) {
      disk.ignores_case =
          ::lstat(swapped.c_str(), &st) == 0 ? Ability::kYes : Ability::kNo;
    }
  }
  return disk.ignores_case == Ability::kYes;
}

// Returns the place of the copy named `name` at `path` in the folder `folder`.
CopyPlace MakePlace(Disk& disk, const FileId& folder, const char* name,
                    const std::string& path) {
  CopyPlace place;
  if (disk.fuse) {
    // The folder's inode number depends on the name it was looked up by.
    place.folder = {folder.device, 0};
    place.name = path;
  } else {
    place.folder = folder;
    place.name = name;
  }
  if (disk.fuse && IgnoresCase(disk, path)) place.name = Capitals(place.name);
  return place;
}

// The folder of the last file read, kept open so that the next file in it
// is reached by its name alone: the system then walks the folder's path once
// rather than once for every file. A run's files come sorted, so most follow
// one another in the same folder.
class SourceFolder {
 public:
  ~SourceFolder() { Close(); }

  // Returns a descriptor of the folder of `path`, and in `name` its last
  // component, which points into `path`; -1 with errno set when the folder
  // cannot be opened.
  int For(const fs::path& path, const char** name) {
    const std::string_view folder = SplitFolder(path.native(), name);
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

// Norvale's temporary names are "~NV" and five hexadecimal digits, ".TMP":
// they end in no ".url", so no search lists them, and they are short names
// as FAT knows them, since fusefat corrupts its folder when renaming a file
// from a long name.
constexpr std::string_view kTemporaryStart = "~NV", kTemporaryEnd = ".TMP";
constexpr size_t kTemporaryDigits = 5;

// Returns true when `name` is one of Norvale's own temporary names.
bool IsTemporaryName(std::string_view name) {
  if (name.size() !=
          kTemporaryStart.size() + kTemporaryDigits + kTemporaryEnd.size() ||
      name.substr(0, kTemporaryStart.size()) != kTemporaryStart ||
      name.substr(name.size() - kTemporaryEnd.size()) != kTemporaryEnd) {
    return false;
  }
  for (const char c : name.substr(kTemporaryStart.size(), kTemporaryDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Removes from the folder open as `fd` the temporary files that a run killed
// before this one left: regular files of Norvale's own name pattern, older
// than this run. Nothing else is removed.
void RemoveLeftovers(int fd) {
  alignas(dirent64) char buffer[16 * 1024];
  std::vector<std::string> leftovers;
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof(buffer));
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (IsTemporaryName(entry->d_name)) leftovers.emplace_back(entry->d_name);
    }
  }
  for (const std::string& name : leftovers) {
    struct stat st;
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    if (st.st_mtim.tv_sec < work.start.tv_sec ||
        (st.st_mtim.tv_sec == work.start.tv_sec &&
         st.st_mtim.tv_nsec < work.start.tv_nsec)) {
      ::unlinkat(fd, name.c_str(), 0);
    }
  }
}

// The folder of the last copy, kept open for the same reason, with what is
// known of it and of its disk.
class CopyFolder {
 public:
  ~CopyFolder() { Close(); }

  // Opens the folder of `path`, unless it is open already, and puts the
  // last component of `path` in `name`. Returns false with errno set when
  // the folder cannot be opened.
  bool For(const fs::path& path, const char** name) {
    const std::string_view folder = SplitFolder(path.native(), name);
    if (fd_ >= 0 && folder == folder_) return true;
    Close();
    folder_ = folder;
    fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
    id_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    disk_ = &DiskOf(st.st_dev, fd_);
    // A folder this run made holds nothing of an earlier one, and one it
    // came back to was cleared already.
    if (work.folders_made.count(folder_) == 0 &&
        work.folders_cleared.insert(folder_).second) {
      RemoveLeftovers(fd_);
    }
    return true;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }
  const FileId& id() const { return id_; }
  Disk& disk() const { return *disk_; }
  const std::string& path() const { return folder_; }

  // Notes that a copy was named in this folder, for the flush.
  void Written() {
    if (disk_->fuse || disk_->written_folders.empty()) {
      disk_->written_folders.insert(folder_);
    }
  }

 private:
  std::string folder_;
  int fd_ = -1;
  FileId id_;
  Disk* disk_ = nullptr;
};

SourceFolder source_folder;
CopyFolder copy_folder;

// Opens the folder of the copy `path` and puts its last component in
// `name`; throws Error naming `path` when the folder cannot be opened.
CopyFolder& OpenCopyFolder(const fs::path& path, const char** name) {
  if (!copy_folder.For(path, name)) throw ErrnoError(kWriteAction, path);
  return copy_folder;
}

// Returns a temporary name that RemoveLeftovers knows as Norvale's; each
// process starts its names elsewhere, and a name taken is tried again.
std::string TemporaryName() {
  static std::atomic<unsigned> counter{static_cast<unsigned>(::getpid()) *
                                       2654435761u};
  static constexpr char kHex[] = "0123456789ABCDEF";
  unsigned number = counter++;
  std::string name(kTemporaryStart);
  for (size_t i = 0; i < kTemporaryDigits; ++i, number >>= 4) {
    name += kHex[number & 0xF];
  }
  return name += kTemporaryEnd;
}

// Throws the Error for errno naming `path`, after removing `temporary` from
// `folder`.
[[noreturn]] void FailRemoving(const CopyFolder& folder,
                               const std::string& temporary,
                               const fs::path& path) {
  const int saved = errno;
  ::unlinkat(folder.fd(), temporary.c_str(), 0);
  errno = saved;
  throw ErrnoError(kWriteAction, path);
}

// Creates a temporary file in `folder` holding `bytes`, on its disk where a
// whole flush would not reach it, and returns its name. Throws Error naming
// `path`, leaving nothing behind.
std::string WriteTemporary(const CopyFolder& folder, const fs::path& path,
                           std::string_view bytes) {
  std::string temporary;
  int raw = -1;
  do {
    temporary = TemporaryName();
    raw = ::openat(folder.fd(), temporary.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (raw < 0 && errno == EEXIST);
  if (raw < 0) throw ErrnoError(kWriteAction, path);
  Descriptor fd(raw);
  if (!WriteAll(fd.get(), bytes) ||
      (folder.disk().fuse && ::fsync(fd.get()) != 0) || fd.Close() != 0) {
    FailRemoving(folder, temporary, path);
  }
  return temporary;
}

// Returns true when an errno says the call is not known to the disk.
bool Unsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Gives the temporary file `temporary` in `folder` the name `name` (the last
// component of `path`) by the best call that refuses a taken name on this
// disk. Returns false, removing the temporary file, when the name is taken.
// Throws Error naming `path`, removing it too, on any other failure.
bool GiveName(CopyFolder& folder, const std::string& temporary,
              const char* name, const fs::path& path) {
  Disk& disk = folder.disk();
  const int fd = folder.fd();
  if (disk.noreplace_rename != Ability::kNo) {
    if (::renameat2(fd, temporary.c_str(), fd, name, RENAME_NOREPLACE) == 0) {
      disk.noreplace_rename = Ability::kYes;
      return true;
    }
    if (errno == EEXIST) return ::unlinkat(fd, temporary.c_str(), 0), false;
    if (!Unsupported(errno)) FailRemoving(folder, temporary, path);
    disk.noreplace_rename = Ability::kNo;
  }
  if (disk.hard_links != Ability::kNo) {
    // A link refuses a taken name as well; the temporary name goes after.
    if (::linkat(fd, temporary.c_str(), fd, name, 0) == 0) {
      disk.hard_links = Ability::kYes;
      ::unlinkat(fd, temporary.c_str(), 0);
      return true;
    }
    if (errno == EEXIST) return ::unlinkat(fd, temporary.c_str(), 0), false;
    // FAT and exFAT have no hard links, and say so with EPERM.
    if (!Unsupported(errno) && errno != EPERM) {
      FailRemoving(folder, temporary, path);
    }
    disk.hard_links = Ability::kNo;
  }
  // The name is claimed by an exclusive create, then the whole file renamed
  // over the claim: a run killed in between leaves an empty file, which the
  // next run replaces, and never part of a copy.
  const int claim =
      ::openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (claim < 0) {
    if (errno == EEXIST) return ::unlinkat(fd, temporary.c_str(), 0), false;
    FailRemoving(folder, temporary, path);
  }
  ::close(claim);
  if (::renameat(fd, temporary.c_str(), fd, name) != 0) {
    const int saved = errno;
    ::unlinkat(fd, name, 0);
    errno = saved;
    FailRemoving(folder, temporary, path);
  }
  return true;
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
// `expected`, read without following a link.
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
    return ReadDescriptor(fd.get(), st.st_size, path) == expected;
  } catch (const Error&) {
    return false;
  }
}

// Throws the Error saying that the file at `path` changed while being
// replaced and could not be put back, after renaming `temporary`, which now
// holds it, to a name that no later run removes as a leftover.
[[noreturn]] void KeepAside(int folder, const std::string& temporary,
                            const fs::path& path) {
  std::string kept = temporary;
  kept.replace(kept.size() - kTemporaryEnd.size(), kTemporaryEnd.size(),
               ".KEPT");
  if (::renameat(folder, temporary.c_str(), folder, kept.c_str()) != 0) {
    kept = temporary;
  }
  throw Error(kWriteAction, path,
              "It changed while Norvale was replacing it; what it held is "
              "kept beside it as \"" +
                  kept + "\"");
}

Error ChangedMeanwhile(const fs::path& path) {
  return Error(kWriteAction, path,
               "It changed while Norvale was replacing it, so it is left as "
               "it is");
}

}  // namespace

void BeginFileWork() {
  CloseOpenFolders();
  work = FileWork();
  ::clock_gettime(CLOCK_REALTIME, &work.start);
}

std::optional<FileId> IdentifyFile(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino)};
}

std::optional<CopyPlace> PlaceOf(const fs::path& path) {
  const char* name = nullptr;
  const std::string folder(SplitFolder(path.native(), &name));
  Descriptor fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  return MakePlace(
      DiskOf(st.st_dev, fd.get()),
      {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
      name, path.native());
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

std::optional<ExistingCopy> ReadExistingCopy(const fs::path& path) {
  const char* name = nullptr;
  CopyFolder& folder = OpenCopyFolder(path, &name);
  Descriptor fd(::openat(folder.fd(), name,
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) {
      throw Error(kWriteAction, path, "It is a link, so it is left as it is");
    }
    throw ErrnoError(kWriteAction, path);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  if (S_ISDIR(st.st_mode)) {
    throw Error(kWriteAction, path, "A folder of that name is in the way");
  }
  if (!S_ISREG(st.st_mode)) {
    throw Error(kWriteAction, path,
                "It is not a regular file, so it is left as it is");
  }
  if (static_cast<uint64_t>(st.st_size) > kLargestShortcut) {
    throw Error(kWriteAction, path,
                "It holds more than a compact copy, so it is left as it is");
  }
  ExistingCopy existing;
  existing.content = ReadDescriptor(fd.get(), st.st_size, path);
  existing.id = {static_cast<uint64_t>(st.st_dev),
                 static_cast<uint64_t>(st.st_ino)};
  existing.id_is_place = st.st_nlink == 1 && !folder.disk().fuse;
  existing.place = MakePlace(folder.disk(), folder.id(), name, path.native());
  return existing;
}

bool WriteNewFile(const fs::path& path, std::string_view bytes) {
  const char* name = nullptr;
  CopyFolder& folder = OpenCopyFolder(path, &name);
  Disk& disk = folder.disk();
  if (disk.unnamed_files != Ability::kNo) {
    const int raw =
        ::openat(folder.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    // EISDIR is how systems older than unnamed files refuse them.
    if (raw < 0 && !Unsupported(errno) && errno != EISDIR) {
      throw ErrnoError(kWriteAction, path);
    }
    if (raw >= 0) {
      disk.unnamed_files = Ability::kYes;
      // An unnamed file vanishes with its descriptor, on every path out.
      Descriptor fd(raw);
      if (!WriteAll(fd.get(), bytes)) throw ErrnoError(kWriteAction, path);
      if (!LinkUnnamed(fd.get(), folder.fd(), name)) {
        if (errno == EEXIST) return false;
        throw ErrnoError(kWriteAction, path);
      }
      if (fd.Close() != 0) {
        const int saved = errno;
        ::unlinkat(folder.fd(), name, 0);
        errno = saved;
        throw ErrnoError(kWriteAction, path);
      }
      folder.Written();
      return true;
    }
    disk.unnamed_files = Ability::kNo;
  }
  const std::string temporary = WriteTemporary(folder, path, bytes);
  if (!GiveName(folder, temporary, name, path)) return false;
  folder.Written();
  return true;
}

void ReplaceFile(const fs::path& path, std::string_view bytes,
                 std::string_view expected) {
  const char* name = nullptr;
  CopyFolder& folder = OpenCopyFolder(path, &name);
  const int fd = folder.fd();
  // Root may write anything, so the mode itself is asked as well.
  struct stat st;
  if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    throw ErrnoError(kWriteAction, path);
  }
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::faccessat(fd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
    throw Error(kWriteAction, path, "It is read-only, so it is left as it is");
  }
  const std::string temporary = WriteTemporary(folder, path, bytes);
  Disk& disk = folder.disk();
  if (disk.exchange != Ability::kNo) {
    // One call swaps the two names; what comes out is then checked to be
    // what was read, and swapped back when it is not.
    if (::renameat2(fd, temporary.c_str(), fd, name, RENAME_EXCHANGE) == 0) {
      disk.exchange = Ability::kYes;
      if (!HoldsExactly(fd, temporary, expected, path)) {
        if (::renameat2(fd, temporary.c_str(), fd, name, RENAME_EXCHANGE) !=
            0) {
          KeepAside(fd, temporary, path);
        }
        ::unlinkat(fd, temporary.c_str(), 0);
        throw ChangedMeanwhile(path);
      }
      ::unlinkat(fd, temporary.c_str(), 0);
      folder.Written();
      return;
    }
    if (!Unsupported(errno)) FailRemoving(folder, temporary, path);
    disk.exchange = Ability::kNo;
  }
  // Without a swap, the old copy is held open while the new one is renamed
  // over it, then read through what was held; when it is not what was read,
  // what it held is written back.
  Descriptor old(
      ::openat(fd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (old.get() < 0 || ::renameat(fd, temporary.c_str(), fd, name) != 0) {
    FailRemoving(folder, temporary, path);
  }
  folder.Written();
  if (::fstat(old.get(), &st) != 0) throw ErrnoError("Could not read", path);
  const std::string held = ReadDescriptor(old.get(), st.st_size, path);
  if (held != expected) {
    const std::string back = WriteTemporary(folder, path, held);
    if (::renameat(fd, back.c_str(), fd, name) != 0) {
      KeepAside(fd, back, path);
    }
    throw ChangedMeanwhile(path);
  }
}

void NoteFolderMade(const fs::path& folder) {
  work.folders_made.insert(folder.native());
}

void CloseOpenFolders() {
  source_folder.Close();
  copy_folder.Close();
}

void FlushWrittenDisks() {
  // Flushes the folder `path` alone, or with `whole` its whole disk.
  const auto flush = [](const std::string& path, bool whole) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) throw ErrnoError(kFlushAction, path);
    if ((whole ? ::syncfs(fd.get()) : ::fsync(fd.get())) != 0) {
      throw ErrnoError(kFlushAction, path);
    }
  };
  bool any_fuse = false;
  for (const auto& [device, disk] : work.disks) {
    if (disk.written_folders.empty()) continue;
    any_fuse = any_fuse || disk.fuse;
    if (!disk.fuse) {
      flush(*disk.written_folders.begin(), true);
      continue;
    }
    for (const std::string& folder : disk.written_folders) flush(folder, false);
  }
  if (!any_fuse) return;
  // A folder made on a FUSE disk is an entry in its parent, which is
  // flushed for it.
  for (const std::string& folder : work.folders_made) {
    struct statfs info;
    if (::statfs(folder.c_str(), &info) != 0 || info.f_type != kFuseMagic) {
      continue;
    }
    const char* name = nullptr;
    flush(folder, false);
    flush(std::string(SplitFolder(folder, &name)), false);
  }
}

}  // namespace norvale
