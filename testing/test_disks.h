// Test helper: disks of the kinds people copy their shortcuts to, made for a
// test program and removed when it ends. As root with FUSE: tmpfs, the local
// disk reached through a bind mount, and exFAT, FAT and NTFS images mounted
// through FUSE as Linux mounts them; otherwise the local disk alone.
#ifndef NORVALE_TESTING_TEST_DISKS_H_
#define NORVALE_TESTING_TEST_DISKS_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/test_folder.h"

namespace norvale {

struct TestDisk {
  std::string kind;
  std::filesystem::path root;  // An empty folder on the disk.
  bool fuse = false;
  bool ignores_case = false;
  bool hard_links = true;
  bool links = true;     // Symbolic links.
  bool modes = true;     // Permissions and owners kept per file.
  bool any_name = true;  // Names beyond ASCII.
};

class TestDisks {
 public:
  // Returns the disks, made on the first call and unmounted at exit.
  static const TestDisks& Get() {
    static TestDisks disks;
    return disks;
  }

  const std::vector<TestDisk>& all() const { return disks_; }
  // Why some kinds could not be made here; empty when all were.
  const std::string& missing() const { return missing_; }

  static bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }

 private:
  TestDisks() {
    const std::string at = local_.path().string() + "/";
    if (::geteuid() != 0 || !std::filesystem::exists("/dev/fuse")) {
      missing_ = "other disks than the local one need root and /dev/fuse";
      Add({"local", local_.path() / "disk"}, "true");
      return;
    }
    Add({"tmpfs", local_.path() / "tmpfs/disk"},
        "mount -t tmpfs -o size=64m tmpfs " + at + "tmpfs");
    Add({"bind", local_.path() / "bind/disk"},
        "mkdir " + at + "bound && mount --bind " + at + "bound " + at + "bind");
    Add({.kind = "exFAT",
         .root = local_.path() / "exFAT/disk",
         .fuse = true,
         .ignores_case = true,
         .hard_links = false,
         .links = false,
         .modes = false},
        Image("exFAT", "mkfs.exfat") +
            " && mount.exfat-fuse $(losetup -f "
            "--show " +
            at + "exFAT.img) " + at + "exFAT");
    Add({.kind = "FAT",
         .root = local_.path() / "FAT/disk",
         .fuse = true,
         .ignores_case = true,
         .hard_links = false,
         .links = false,
         .modes = false,
         .any_name = false},
        Image("FAT", "mkfs.vfat") + " && fusefat -o rw+ " + at + "FAT.img " +
            at + "FAT");
    Add({.kind = "NTFS",
         .root = local_.path() / "NTFS/disk",
         .fuse = true,
         .modes = false},
        Image("NTFS", "mkntfs -F -q -f") + " && ntfs-3g " + at + "NTFS.img " +
            at + "NTFS");
  }

  ~TestDisks() {
    for (const TestDisk& disk : disks_)
      if (disk.kind != "local")
        Shell("umount " + disk.root.parent_path().string());
    // The loop device the exFAT image was attached to.
    Shell("losetup -j " + (local_.path() / "exFAT.img").string() +
          " | cut -d: -f1 | xargs -r -n1 losetup -d");
  }

  // Returns the command that makes a 64 MiB image for `kind` with `mkfs`.
  std::string Image(const std::string& kind, const std::string& mkfs) const {
    const std::string image = (local_.path() / kind).string() + ".img";
    return "truncate -s 64M " + image + " && " + mkfs + " " + image;
  }

  // Adds `disk` once `make` has made and mounted it on its root's parent.
  void Add(const TestDisk& disk, const std::string& make) {
    std::filesystem::create_directories(disk.root.parent_path());
    if (!Shell(make) || !std::filesystem::create_directory(disk.root)) {
      missing_ +=
          (missing_.empty() ? "" : ", ") + disk.kind + " could not be made";
      return;
    }
    disks_.push_back(disk);
  }

  TestFolder local_;
  std::vector<TestDisk> disks_;
  std::string missing_;
};

}  // namespace norvale

#endif  // NORVALE_TESTING_TEST_DISKS_H_
