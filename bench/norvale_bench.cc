// Times Norvale's compression run against `cp -r` of the same shortcut tree,
// and reports its peak memory and system calls per shortcut; then times the
// run again onto its up-to-date copy (the update run) and counts what that
// wrote. Then where users see it: the window's run, from the key press to
// "Finished", against `Norvale --run` and `cp -r`; and the first and update
// runs onto exFAT, FAT and NTFS through FUSE against `cp -r` and a flush of
// every file. The trees are made here, shaped like a real Favorites folder.
//
// usage: norvale_bench [--dir DIR] [--counts 1000,10000,100000] [--reps N]
//                      [--window 100000] [--disks 2000]
//        norvale_bench --once SOURCE DESTINATION
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/child.h"
#include "bench/fuse_disks.h"
#include "bench/window_timing.h"
#include "run/compression_run.h"
#include "services/error.h"

namespace {

using norvale_bench::ChildFailed;
using norvale_bench::Measure;
using norvale_bench::Median;
using norvale_bench::RunChild;

namespace fs = std::filesystem;

// Returns the total number of system calls `strace -c` counts for `argv`.
long CountSyscalls(const std::vector<std::string>& argv, const fs::path& work) {
  const fs::path report = work / "strace.txt";
  std::vector<std::string> traced = {"strace", "-f", "-c", "-o",
                                     report.string()};
  traced.insert(traced.end(), argv.begin(), argv.end());
  RunChild(traced);
  std::ifstream in(report);
  std::string line, last_total;
  while (std::getline(in, line)) {
    if (line.find("total") != std::string::npos) last_total = line;
  }
  // "100.00    0.123456     1   123456    12 total": calls is the 4th field.
  std::istringstream fields(last_total);
  std::string percent, seconds, usecs;
  long calls = -1;
  fields >> percent >> seconds >> usecs >> calls;
  return calls;
}

// Returns how many calls of `argv` change a file system: writes, links,
// renames and opens of unnamed files, as strace shows them.
long CountChanges(const std::vector<std::string>& argv, const fs::path& work) {
  const fs::path report = work / "changes.txt";
  std::vector<std::string> traced = {
      "strace",
      "-f",
      "-qq",
      "-e",
      "trace=write,pwrite64,link,linkat,rename,renameat,renameat2,openat",
      "-o",
      report.string()};
  traced.insert(traced.end(), argv.begin(), argv.end());
  RunChild(traced);
  std::ifstream in(report);
  std::string line;
  long changes = 0;
  while (std::getline(in, line)) {
    const bool open = line.find("openat(") != std::string::npos;
    if (!open || line.find("O_TMPFILE") != std::string::npos) ++changes;
  }
  return changes;
}

int RunOnce(const char* source, const char* destination) {
  norvale::CompressionRun run(source, destination);
  try {
    run.Run();
  } catch (const norvale::Error& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

// The text of a shortcut as a browser writes it, about 300 bytes.
std::string FullShortcut(long n, unsigned query) {
  const std::string host = "www.example" + std::to_string(n) + ".com";
  const std::string page = host + "/path/" + std::to_string(n) + "/index.html";
  return "[DEFAULT]\r\nBASEURL=https://" + page +
         "\r\n[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,11\r\n"
         "[InternetShortcut]\r\nIDList=\r\nURL=https://" +
         page + "?q=" + std::to_string(query) + "\r\nIconFile=https://" + host +
         "/favicon.ico\r\nIconIndex=1\r\nHotKey=0\r\n"
         "Modified=20F06BA06D07BD014D\r\n";
}

// The same as UTF-16LE with its mark, holding an address beyond ASCII, as
// shortcuts saved with such an address are.
std::string WideShortcut(long n, unsigned query) {
  const std::string full = FullShortcut(n, query);
  const size_t host = full.find("URL=https://") + 12;
  std::u16string text = u"\uFEFF";
  for (size_t i = 0; i < full.size(); ++i) {
    if (i == host) text += u"caf\u00e9.";
    text.push_back(static_cast<unsigned char>(full[i]));
  }
  std::string bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

// Writes `count` shortcuts below `root`, shaped like a real Favorites
// folder: 40 to a folder, folders up to three deep, most of them full
// shortcuts, one in five in UTF-16LE, and, unless `ascii`, one name in six
// not ASCII.
void MakeTree(const fs::path& root, long count, bool ascii = false) {
  std::mt19937 random(4201);
  std::vector<std::pair<fs::path, int>> folders = {{root, 0}};
  fs::create_directories(root);
  for (long made = 0; made < count;) {
    auto [folder, depth] = folders[random() % folders.size()];
    if (depth < 3 && random() % 2 == 0) {
      folder /=
          (folders.size() % 4 == 0 && !ascii ? "Caf\xC3\xA9s " : "Folder ") +
          std::to_string(folders.size());
      fs::create_directory(folder);
      folders.emplace_back(folder, ++depth);
    }
    for (int i = 0; i < 40 && made < count; ++i, ++made) {
      const std::string name =
          (made % 6 == 0 && !ascii
               ? "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8 "
               : "Site ") +
          std::to_string(made) + ".url";
      const unsigned query = random();
      std::ofstream(folder / name, std::ios::binary)
          << (made % 5 == 0 ? WideShortcut(made, query)
                            : FullShortcut(made, query));
    }
  }
}

std::vector<long> ParseCounts(const std::string& text) {
  std::vector<long> counts;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) counts.push_back(std::stol(item));
  return counts;
}

// Prints the window's run of `count` shortcuts in RAM, from the key press
// to "Finished", against the same run without a window and cp -r.
void TimeWindow(const fs::path& work, long count, int reps) {
  const fs::path source = work / "window-tree", out = work / "out",
                 copy = work / "copy";
  MakeTree(source, count);
  std::vector<double> window, terminal, cp;
  for (int rep = 0; rep < reps; ++rep) {
    window.push_back(
        norvale_bench::TimeWindowRun(NORVALE_EXE, source, out / "window"));
    terminal.push_back(RunChild({NORVALE_EXE, "--run", source.string(),
                                 (out / "terminal").string()})
                           .seconds);
    cp.push_back(
        RunChild({"cp", "-r", source.string(), copy.string()}).seconds);
    fs::remove_all(out);
    fs::remove_all(copy);
  }
  fs::remove_all(source);
  const double w = Median(window), t = Median(terminal), c = Median(cp);
  std::printf(
      "\nthe window, %ld shortcuts in RAM, from the key press to \"Finished\"\n"
      "%12s %12s %12s %10s %14s\n%12.1f %12.1f %12.1f %10.2f %14.1f\n",
      count, "window ms", "--run ms", "cp -r ms", "window/cp", "window-run ms",
      w * 1e3, t * 1e3, c * 1e3, w / c, (w - t) * 1e3);
}

// Prints Norvale's first and update runs of `count` shortcuts onto the FUSE
// disks, against cp -r and a flush of every file.
void TimeDisks(const std::string& self, const fs::path& work, long count,
               int reps) {
  const fs::path source = work / "disk-tree";
  // Names FAT can store; fusefat refuses others, to cp too.
  MakeTree(source, count, /*ascii=*/true);
  std::string missing;
  const std::vector<norvale_bench::DiskTimes> disks =
      norvale_bench::TimeFuseDisks(self, source, work, reps, &missing);
  fs::remove_all(source);
  std::printf(
      "\n%ld shortcuts onto disks through FUSE (images in RAM)\n"
      "%8s %10s %10s %14s %7s %14s\n",
      count, "disk", "first s", "update s", "cp+flush s", "ratio",
      "update/first");
  for (const auto& disk : disks) {
    std::printf("%8s %10.2f %10.2f %14.2f %7.2f %14.2f\n", disk.kind.c_str(),
                disk.first, disk.update, disk.cp_flush,
                disk.first / disk.cp_flush, disk.update / disk.first);
  }
  if (!missing.empty()) std::printf("skipped: %s\n", missing.c_str());
}

}  // namespace

int Bench(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--once") {
    return RunOnce(argv[2], argv[3]);
  }
  fs::path dir = "/dev/shm";
  std::vector<long> counts = {1000, 10000, 100000};
  int reps = 5;
  long window_count = 100000, disk_count = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--dir")
      dir = value;
    else if (flag == "--counts")
      counts = ParseCounts(value);
    else if (flag == "--reps")
      reps = std::stoi(value);
    else if (flag == "--window")
      window_count = std::stol(value);
    else if (flag == "--disks")
      disk_count = std::stol(value);
    else {
      std::cerr << "unknown flag " << flag << "\n";
      return 2;
    }
  }
  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path work = dir / ("norvale-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  // The trees are large; they go however the benchmark ends.
  struct RemoveWork {
    const fs::path& work;
    ~RemoveWork() {
      std::error_code ec;
      fs::remove_all(work, ec);
    }
  } remove_work{work};

  std::printf("%10s %12s %12s %7s %10s %14s %10s %8s %9s\n", "shortcuts",
              "norvale ms", "cp -r ms", "ratio", "peak MiB", "syscalls/file",
              "update ms", "update/", "update");
  std::printf("%10s %12s %12s %7s %10s %14s %10s %8s %9s\n", "", "", "", "", "",
              "", "", "first", "changes");
  std::vector<double> medians;
  for (long count : counts) {
    const fs::path source = work / ("tree-" + std::to_string(count));
    MakeTree(source, count);
    std::vector<double> ours, theirs, updates;
    long peak_kib = 0;
    for (int rep = 0; rep < reps; ++rep) {
      // Alternating keeps the three exposed to the same noise.
      const fs::path out = work / "out", copy = work / "copy";
      const Measure m =
          RunChild({self, "--once", source.string(), out.string()});
      ours.push_back(m.seconds);
      peak_kib = std::max(peak_kib, m.peak_kib);
      theirs.push_back(
          RunChild({"cp", "-r", source.string(), copy.string()}).seconds);
      updates.push_back(
          RunChild({self, "--once", source.string(), out.string()}).seconds);
      fs::remove_all(out);
      fs::remove_all(copy);
    }
    const std::vector<std::string> traced = {self, "--once", source.string(),
                                             (work / "traced").string()};
    const long calls = CountSyscalls(traced, work);
    const long changes = CountChanges(traced, work);
    fs::remove_all(work / "traced");
    fs::remove_all(source);
    const double a = Median(ours), b = Median(theirs), u = Median(updates);
    medians.push_back(a);
    std::printf("%10ld %12.1f %12.1f %7.2f %10.1f %14.1f %10.1f %8.2f %9ld\n",
                count, a * 1e3, b * 1e3, a / b, peak_kib / 1024.0,
                calls < 0 ? -1.0 : static_cast<double>(calls) / count, u * 1e3,
                u / a, changes);
  }
  for (size_t i = 1; i < counts.size(); ++i) {
    std::printf("time %ld / time %ld: %.2f (shortcuts x%.0f)\n", counts[i],
                counts[i - 1], medians[i] / medians[i - 1],
                static_cast<double>(counts[i]) / counts[i - 1]);
  }
  if (window_count > 0) TimeWindow(work, window_count, reps);
  if (disk_count > 0) TimeDisks(self, work, disk_count, std::min(reps, 3));
  return 0;
}

int main(int argc, char** argv) {
  try {
    return Bench(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
