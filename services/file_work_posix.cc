// The file work of a run on POSIX: identifying files, reading sources and
// the copies found where copies go, walking folders, and flushing what was
// written to its disks.
#include "services/file_work_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "services/copy_rules.h"
#include "services/error.h"
#include "services/posix/descriptor.h"
#include "services/posix/temporary_files.h"

namespace norvale {

namespace fs = std::filesystem;

namespace {

constexpr char kFlushAction[] = "Could not flush the copies to the disk at";

// Flushes the folder `path` alone, or with `whole` its whole disk.
void FlushFolder(const std::string& path, bool whole) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError(kFlushAction, path);
  if ((whole ? ::syncfs(fd.get()) : ::fsync(fd.get())) != 0) {
    throw ErrnoError(kFlushAction, path);
  }
}

}  // namespace

FileId FileWork::State::Identify(int fd, const struct stat& st,
                                 const Disk& disk, const fs::path& path) {
  const auto device = static_cast<uint64_t>(st.st_dev);
  if (disk.numbers_last)
    return {device, static_cast<uint64_t>(st.st_ino), 0, {}};
  return {device, 0, 0,
          real_paths.Of(fd, disk.ignores_case == Ability::kNo, path)};
}

void FileWork::State::OpenCopyFolder(const fs::path& path, const char** name,
                                     bool* cleared) {
  if (!copy_folder.For(path, name)) return;
  MetCopyFolder(path, cleared);
}

void FileWork::State::MetCopyFolder(const fs::path& path, bool* cleared) {
  const int fd = copy_folder.fd();
  if (fd < 0 || ::fstat(fd, &copy_folder_stat) != 0) {
    copy_folder.Close();
    throw ErrnoError(kWriteAction, path);
  }
  // A disk first met here, where copies are written, is asked its ways.
  // A run that only looks learns nothing by making a file.
  copy_disk =
      &disks.Of(copy_folder_stat.st_dev, fd, work->look_only_ ? -1 : fd);
  copy_folder_id.reset();
  if (work->ClaimLeftovers(copy_folder.path(), [this]() -> const FileId& {
        return CopyFolderId();
      })) {
    const bool any = RemoveLeftovers(fd, start);
    if (cleared != nullptr) *cleared = any;
  }
}

const FileId& FileWork::State::CopyFolderId() {
  if (!copy_folder_id) {
    copy_folder_id = Identify(copy_folder.fd(), copy_folder_stat, *copy_disk,
                              copy_folder.path());
  }
  return *copy_folder_id;
}

std::string FileWork::State::StoredCopyName(const char* name,
                                            const fs::path& path) {
  if (copy_disk->numbers_last || copy_disk->ignores_case == Ability::kNo) {
    return name;
  }
  return real_paths.StoredName(copy_folder.fd(), copy_folder.path(),
                               CopyFolderId().path, name, path);
}

void FileWork::State::Changed() {
  Disk& disk = *copy_disk;
  if (disk.fuse || disk.written_folders.empty()) {
    disk.written_folders.insert(copy_folder.path());
  }
}

void FileWork::State::Written(const char* name) {
  Changed();
  if (copy_folder_id && !copy_folder_id->path.empty()) {
    real_paths.Added(copy_folder_id->path, name);
  }
}

// Returns the process's umask, read where the system shows it, so that it is
// never changed, not even for a moment while another thread makes a file.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

FileWork::FileWork() : state_(std::make_unique<State>()) {
  ::clock_gettime(CLOCK_REALTIME, &state_->start);
  state_->umask = CurrentUmask();
  state_->work = this;
}

FileWork::~FileWork() {
  if (state_->lock >= 0) ::close(state_->lock);
  for (const auto& [path, fd] : state_->walk) ::close(fd);
}

bool FileWork::EnterFolder(const fs::path& folder, const FileId& id,
                           bool* cleared) {
  State& state = *state_;
  std::string text = folder.native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  int fd = -1;
  if (state.walk.empty()) {
    fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } else {
    // An entry of the folder entered last, opened through it and never
    // through a link, so that no name met on the way can lead elsewhere.
    const std::string& parent = state.walk.back().first;
    const std::string name = text.substr(parent.size() + 1);
    if (text.compare(0, parent.size(), parent) != 0 ||
        text[parent.size()] != '/' || name.find('/') != std::string::npos) {
      throw Error("Could not read the folder", folder,
                  "It is not in the folder Norvale is in");
    }
    fd = ::openat(state.walk.back().second, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    // Gone, or put back as a link or a file: not what was looked at.
    if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) return false;
    throw ErrnoError("Could not read the folder", folder);
  }
  state.walk.emplace_back(text, fd);
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    LeaveFolder();
    throw ErrnoError("Could not read the folder", folder);
  }
  state.copy_folder.Adopt(text, copy);
  try {
    state.MetCopyFolder(folder / "", cleared);
    if (state.CopyFolderId() == id) return true;
  } catch (const Error&) {
    LeaveFolder();
    throw;
  }
  LeaveFolder();
  return false;
}

void FileWork::LeaveFolder() {
  State& state = *state_;
  if (state.walk.empty()) return;
  ::close(state.walk.back().second);
  state.walk.pop_back();
  state.copy_folder.Close();
  if (state.walk.empty()) return;
  // Back in the folder before, through the descriptor it was entered by.
  const auto& [path, fd] = state.walk.back();
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return;  // The next act opens it by its path.
  state.copy_folder.Adopt(path, copy);
  try {
    state.MetCopyFolder(fs::path(path) / "", nullptr);
  } catch (const Error&) {
    state.copy_folder.Close();
  }
}

std::vector<FolderEntry> FileWork::ListEnteredFolder(std::error_code& ec) {
  State& state = *state_;
  if (state.walk.empty()) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return {};
  }
  // Through a descriptor of its own, so that the folder's stays where it is.
  Descriptor list(::openat(state.walk.back().second, ".",
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (list.get() < 0) {
    ec.assign(errno, std::generic_category());
    return {};
  }
  return ListOpenFolder(list.get(), ec);
}

void FileWork::MeetDestination(const fs::path& destination,
                               const fs::path& source) {
  Descriptor folder(
      ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  Descriptor searched(::open(source.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st, source_st;
  if (folder.get() < 0 || ::fstat(folder.get(), &st) != 0) return;
  // The source folder is only read, so nothing is made there even for a
  // moment; its disk is then judged by its kind alone.
  bool same = false;
  if (searched.get() >= 0 && ::fstat(searched.get(), &source_st) == 0 &&
      source_st.st_dev == st.st_dev) {
    try {
      same = source_st.st_ino == st.st_ino ||
             state_->real_paths.Of(folder.get(), false, destination) ==
                 state_->real_paths.Of(searched.get(), false, source);
    } catch (const Error&) {
      same = true;
    }
  }
  state_->disks.Of(st.st_dev, folder.get(), same ? -1 : folder.get());
}

std::optional<FileId> FileWork::IdentifyFile(const fs::path& path) {
  Descriptor fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  return state_->Identify(fd.get(), st, state_->disks.Of(st.st_dev, fd.get()),
                          path);
}

std::optional<FileId> FileWork::IdentifySubfolder(const FileId& parent,
                                                  const fs::path& path) {
  struct statx st;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_INO, &st) != 0) {
    return std::nullopt;
  }
  const dev_t device = ::makedev(st.stx_dev_major, st.stx_dev_minor);
  const auto disk = state_->disks.all().find(device);
  if (disk != state_->disks.all().end()) {
    if (disk->second.numbers_last) {
      return FileId{static_cast<uint64_t>(device), st.stx_ino, 0, {}};
    }
    // Below a folder whose real path is known, on the same mount, an
    // entry's real path is that path and its name as listed.
    const bool mount_root =
        (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) == 0 ||
        (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (!mount_root && parent.device == device && !parent.path.empty()) {
      std::string real = parent.path;
      if (real.back() != '/') real += '/';
      return FileId{device, 0, 0, real + path.filename().native()};
    }
  }
  return IdentifyFile(path);
}

bool FileWork::IsMountPoint(const fs::path& folder) {
  struct statx st;
  if (::statx(AT_FDCWD, folder.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_INO, &st) != 0) {
    return true;
  }
  if ((st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  // An older kernel: another disk at least has another device.
  struct stat parent;
  return ::stat(folder.parent_path().c_str(), &parent) != 0 ||
         parent.st_dev != ::makedev(st.stx_dev_major, st.stx_dev_minor);
}

bool FileWork::LockDestination(const fs::path& destination) {
  State& state = *state_;
  if (state.lock >= 0) return true;
  const int fd =
      ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    throw ErrnoError("Could not open the folder", destination);
  }
  // A lock on the folder itself: nothing is added to the destination, and
  // the system lets go of it however the run ends. Disks that keep no locks
  // of their own (FUSE) are locked by the kernel for this machine.
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int saved = errno;
    if (saved == EINTR) continue;
    ::close(fd);
    if (saved == EWOULDBLOCK) {
      throw Error("Could not write to", destination,
                  "Another Norvale run is writing to it; try again when that "
                  "run has finished");
    }
    // A disk that cannot lock at all (some network shares) is written to
    // as before.
    if (saved == ENOLCK || saved == EOPNOTSUPP || saved == ENOSYS) return true;
    errno = saved;
    throw ErrnoError("Could not lock the folder", destination);
  }
  state.lock = fd;
  return true;
}

void FileWork::HideFile(const fs::path&) {}

std::optional<CopyPlace> FileWork::PlaceOf(const fs::path& path) {
  State& state = *state_;
  const char* name = nullptr;
  const std::string_view folder = SplitFolder(path.native(), &name);
  if (folder != state.place_folder || !state.place_folder_id) {
    state.place_folder = folder;
    state.place_folder_id.reset();
    Descriptor fd(
        ::open(state.place_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return std::nullopt;
    state.place_folder_id =
        state.Identify(fd.get(), st, state.disks.Of(st.st_dev, fd.get()), path);
  }
  CopyPlace place{*state.place_folder_id, name};
  if (!place.folder.path.empty()) {
    const Disk& disk = state.disks.all().at(place.folder.device);
    if (disk.ignores_case != Ability::kNo) {
      place.name = state.real_paths.StoredName(-1, state.place_folder,
                                               place.folder.path, name, path);
    }
  }
  return place;
}

std::string FileWork::ReadWholeFile(const fs::path& path,
                                    Permissions* permissions) {
  const char* name = nullptr;
  OpenFolder& folder = state_->source_folder;
  folder.For(path, &name);
  if (folder.fd() < 0) throw ErrnoError("Could not open", path);
  // O_NONBLOCK keeps open from waiting on a pipe; such files are refused below.
  Descriptor fd(::openat(folder.fd(), name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError("Could not open", path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  if (!S_ISREG(st.st_mode)) {
    throw Error("Could not read", path, "It is not a regular file");
  }
  if (permissions != nullptr) *permissions = st.st_mode & 0777;
  return ReadOpenFile(fd.get(), st, path);
}

std::optional<ExistingCopy> FileWork::ReadExistingCopy(const fs::path& path,
                                                       bool /*fetch*/) {
  State& state = *state_;
  const char* name = nullptr;
  state.OpenCopyFolder(path, &name);
  // Held until the next copy is read, for TakePermissions.
  Descriptor& fd = state.existing;
  fd.Reset(::openat(state.copy_folder.fd(), name,
                    O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  state.existing_path = path.native();
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) {
      FoundFile link;
      link.kind = FoundFile::Kind::kLink;
      throw Error(kWriteAction, path, *WhyLeftAsItIs(link, true));
    }
    throw ErrnoError(kWriteAction, path);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) throw ErrnoError("Could not read", path);
  const FoundFile found = Found(st);
  if (const auto why = WhyLeftAsItIs(found, true)) {
    throw Error(kWriteAction, path, *why);
  }
  ExistingCopy existing;
  existing.content = ReadOpenFile(fd.get(), st, path);
  existing.read_only = found.read_only;
  existing.place = {state.CopyFolderId(), state.StoredCopyName(name, path)};
  if (state.copy_disk->numbers_last) {
    existing.id = {static_cast<uint64_t>(st.st_dev),
                   static_cast<uint64_t>(st.st_ino),
                   0,
                   {}};
    existing.id_is_place = st.st_nlink == 1;
  } else {
    // Where numbers do not last, the real path is the file's identity, and
    // one with its place.
    existing.id = existing.place.folder;
    if (existing.id.path.back() != '/') existing.id.path += '/';
    existing.id.path += existing.place.name;
    existing.id_is_place = true;
  }
  return existing;
}

// No file is kept online only here, so no copy needs proving unread.
FileStamp FileWork::StampOf(const fs::path& /*path*/) const { return {}; }

Permissions FileWork::ExcessPermissions(const fs::path& path,
                                        Permissions permissions) {
  const State& state = *state_;
  struct stat st;
  if (look_only_ || permissions == 0 || state.existing.get() < 0 ||
      state.existing_path != path.native() ||
      state.copy_disk->modes == Ability::kNo ||
      ::fstat(state.existing.get(), &st) != 0) {
    return 0;
  }
  const mode_t allowed = (permissions & ~state.umask) | S_IRUSR | S_IWUSR;
  return st.st_mode & 0777 & ~allowed;
}

void FileWork::TakePermissions(const fs::path& path, Permissions bits) {
  State& state = *state_;
  constexpr char kAction[] = "Could not make private";
  const int fd = state.existing.get();
  struct stat st;
  if (look_only_ || fd < 0 || state.existing_path != path.native()) {
    throw Error(kAction, path, "Nothing is changed");
  }
  if (::fstat(fd, &st) != 0) throw ErrnoError(kAction, path);
  const mode_t wanted = st.st_mode & 07777 & ~bits;
  Disk& disk = *state.copy_disk;
  if (::fchmod(fd, wanted) != 0) {
    if (errno != ENOSYS && errno != EOPNOTSUPP) {
      throw ErrnoError(kAction, path);
    }
    disk.modes = Ability::kNo;
    return;
  }
  // A disk that keeps no permissions may still say it changed them.
  if (disk.modes == Ability::kUnknown) {
    disk.modes = ::fstat(fd, &st) == 0 && (st.st_mode & 07777) == wanted
                     ? Ability::kYes
                     : Ability::kNo;
  }
}

void FileWork::CloseFolders() {
  state_->existing.Reset(-1);
  state_->source_folder.Close();
  state_->copy_folder.Close();
}

void FileWork::Flush() {
  bool any_fuse = false;
  for (const auto& [device, disk] : state_->disks.all()) {
    if (disk.written_folders.empty()) continue;
    any_fuse = any_fuse || disk.fuse;
    if (!disk.fuse) {
      FlushFolder(*disk.written_folders.begin(), true);
      continue;
    }
    // syncfs reaches no FUSE daemon: each folder written to on its own.
    for (const std::string& folder : disk.written_folders) {
      FlushFolder(folder, false);
    }
  }
  if (!any_fuse) return;
  // A folder made on a FUSE disk is an entry in its parent, which is
  // flushed for it.
  for (const std::string& folder : made_) {
    struct statfs info;
    if (::statfs(folder.c_str(), &info) != 0 || info.f_type != kFuseMagic) {
      continue;
    }
    const char* name = nullptr;
    FlushFolder(folder, false);
    FlushFolder(std::string(SplitFolder(folder, &name)), false);
  }
}

}  // namespace norvale
