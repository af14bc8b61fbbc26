// Test helper: disks of the kinds people copy their shortcuts to, made for a
// test program and removed when it ends: the local temporary folder, and
// exFAT, FAT and NTFS images mounted through FUSE as Linux mounts them,
// where this machine can (root, /dev/fuse, loop devices and the tools).
#ifndef NORVALE_SERVICES_TEST_DISKS_H_
#define NORVALE_SERVICES_TEST_DISKS_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "services/test_folder.h"

namespace norvale {

struct TestDisk {
  std::string kind;
  std::filesystem::path root;  // An empty folder on the disk.
  bool ignores_case = false;
  bool hard_links = true;
  bool fuse = false;
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

 private:
  TestDisks() {
    disks_.push_back({"local", local_.path() / "disk"});
    std::filesystem::create_directory(disks_.back().root);
    if (::geteuid() != 0 || !std::filesystem::exists("/dev/fuse")) {
      missing_ = "FUSE disks need root and /dev/fuse";
      return;
    }
    const std::string at = local_.path().string() + "/";
    Mount("exFAT",
          "mkfs.exfat " + at + "exFAT.img && mount.exfat-fuse " +
              "$(losetup -f --show " + at + "exFAT.img) " + at + "exFAT",
          true, false);
    Mount("FAT",
          "mkfs.vfat " + at + "FAT.img && fusefat -o rw+ " + at + "FAT.img " +
              at + "FAT",
          true, false);
    Mount("NTFS",
          "mkntfs -F -q -f " + at + "NTFS.img && ntfs-3g " + at + "NTFS.img " +
              at + "NTFS",
          false, true);
  }

  ~TestDisks() {
    for (const TestDisk& disk : disks_)
      if (disk.fuse) Shell("umount " + disk.root.parent_path().string());
    // The loop device the exFAT image was attached to.
    Shell("losetup -j " + (local_.path() / "exFAT.img").string() +
          " | cut -d: -f1 | xargs -r -n1 losetup -d");
  }

  static bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }

  // Makes a 64 MiB image of `kind`, which `make_and_mount` formats and
  // mounts on the folder of that name.
  void Mount(const std::string& kind, const std::string& make_and_mount,
             bool ignores_case, bool hard_links) {
    const std::filesystem::path dir = local_.path() / kind;
    std::filesystem::create_directory(dir);
    if (!Shell("truncate -s 64M " + dir.string() + ".img && " +
               make_and_mount)) {
      missing_ += (missing_.empty() ? "" : ", ") + kind + " could not be made";
      return;
    }
    disks_.push_back({kind, dir / "disk", ignores_case, hard_links, true});
    std::filesystem::create_directory(disks_.back().root);
  }

  TestFolder local_;
  std::vector<TestDisk> disks_;
  std::string missing_;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_TEST_DISKS_H_
