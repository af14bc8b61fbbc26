// Timing Norvale on the disks people carry: exFAT, FAT and NTFS images in
// RAM, mounted through FUSE as Linux mounts a USB stick.
#ifndef NORVALE_BENCH_FUSE_DISKS_H_
#define NORVALE_BENCH_FUSE_DISKS_H_

#include <filesystem>
#include <string>
#include <vector>

namespace norvale_bench {

struct DiskTimes {
  std::string kind;
  double first = 0;     // Norvale's first run, seconds.
  double update = 0;    // Norvale again onto its up-to-date copy.
  double cp_flush = 0;  // cp -r, then a flush of every file it wrote.
};

// Returns the median times of `reps` runs of `norvale` (called with
// "--once SOURCE DESTINATION") copying `source` onto each disk that can be
// made in `work` here, against cp -r followed by a flush of every copied
// file: the fair match for copies that are on the disk when "Finished"
// shows. Disks that cannot be made (without root or FUSE) are left out,
// and `missing` says why.
std::vector<DiskTimes> TimeFuseDisks(const std::string& norvale,
                                     const std::filesystem::path& source,
                                     const std::filesystem::path& work,
                                     int reps, std::string* missing);

}  // namespace norvale_bench

#endif  // NORVALE_BENCH_FUSE_DISKS_H_
