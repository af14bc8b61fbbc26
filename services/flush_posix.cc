// Making sure on POSIX that what a run wrote is on its disks.
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "services/descriptor_posix.h"
#include "services/error.h"
#include "services/file_work_posix.h"

namespace norvale {
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
