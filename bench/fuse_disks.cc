#include "bench/fuse_disks.h"

#include <unistd.h>

#include "bench/child.h"

namespace norvale_bench {

namespace fs = std::filesystem;

std::vector<DiskTimes> TimeFuseDisks(const std::string& norvale,
                                     const fs::path& source,
                                     const fs::path& work, int reps,
                                     std::string* missing) {
  std::vector<DiskTimes> times;
  if (::geteuid() != 0 || !fs::exists("/dev/fuse")) {
    *missing = "the FUSE disks need root and /dev/fuse";
    return times;
  }
  // Each as the disk tests make it: a 256 MiB image, formatted and mounted
  // by the FUSE daemon Linux uses for it.
  const struct {
    const char* kind;
    const char* make;
    const char* mount;
  } disks[] = {
      {"exFAT", "mkfs.exfat", "mount.exfat-fuse $(losetup -f --show IMAGE)"},
      {"FAT", "mkfs.vfat", "fusefat -o rw+ IMAGE"},
      {"NTFS", "mkntfs -F -q -f", "ntfs-3g IMAGE"},
  };
  for (const auto& disk : disks) {
    const std::string image = (work / disk.kind).string() + ".img";
    const fs::path mounted = work / disk.kind;
    std::string mount = disk.mount;
    mount.replace(mount.find("IMAGE"), 5, image);
    fs::create_directories(mounted);
    if (!Shell("truncate -s 256M " + image + " && " + disk.make + " " + image +
               " && " + mount + " " + mounted.string())) {
      *missing += std::string(missing->empty() ? "" : ", ") + disk.kind +
                  " could not be made";
      continue;
    }
    // Unmounted however the benchmark ends.
    struct Unmount {
      std::string mounted, image;
      ~Unmount() {
        Shell("umount " + mounted);
        Shell("losetup -j " + image +
              " | cut -d: -f1 | xargs -r -n1 losetup -d");
        std::error_code ec;
        fs::remove(image, ec);
      }
    } unmount{mounted.string(), image};
    std::vector<double> first, update, cp_flush;
    const fs::path out = mounted / "out", copy = mounted / "copy";
    for (int rep = 0; rep < reps; ++rep) {
      first.push_back(
          RunChild({norvale, "--once", source.string(), out.string()}).seconds);
      update.push_back(
          RunChild({norvale, "--once", source.string(), out.string()}).seconds);
      cp_flush.push_back(
          RunChild({"sh", "-c",
                    "cp -r '" + source.string() + "' '" + copy.string() +
                        "' && find '" + copy.string() +
                        "' -type f -print0 | xargs -0 sync"})
              .seconds);
      fs::remove_all(out);
      fs::remove_all(copy);
    }
    times.push_back(
        {disk.kind, Median(first), Median(update), Median(cp_flush)});
  }
  return times;
}

}  // namespace norvale_bench
