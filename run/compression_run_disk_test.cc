// Runs on every kind of disk people copy to, each made for the test: the
// local one, and exFAT, FAT and NTFS through FUSE. The same table runs on
// each: the first run, the run again onto an up-to-date copy, a run killed
// half-way, two shortcuts reaching one copy, a copy changed while it is
// replaced, and hard-linked copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "run/compression_run.h"
#include "services/test_disks.h"
#include "services/test_faults.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::string Full(const std::string& url) {
  return "[InternetShortcut]\r\nIDList=\r\nURL=" + url + "\r\nIconIndex=1\r\n";
}

// The first run writes every copy whole and flushes it where the disk is;
// running again onto the up-to-date copy writes, renames and flushes
// nothing, and leaves each copy as it was, which sync and backup tools rely
// on.
TEST(DiskTest, WritesFlushesAndLeavesUpToDateCopiesAlone) {
  // fusefat refuses names beyond ASCII, as it refuses them to cp.
  TestFolder ascii, source;
  Files ascii_copies, copies;
  const std::pair<std::string, std::string> shortcuts[] = {
      {"a.url", "http://a/"},
      {"News/b.url", "http://b/"},
      {"News/Daily/c\xC3\xA9.url", "http://c/"}};
  // Enough in one folder to need several of a FAT folder's clusters.
  std::vector<std::pair<std::string, std::string>> all(std::begin(shortcuts),
                                                       std::end(shortcuts));
  for (int i = 0; i < 100; ++i) {
    all.emplace_back("Many/Site " + std::to_string(i) + ".url",
                     "http://" + std::to_string(i) + "/");
  }
  for (const auto& [name, url] : all) {
    source.Write(name, Full(url));
    copies[name] = Compact(url);
    if (name.find('\xC3') != std::string::npos) continue;
    ascii.Write(name, Full(url));
    ascii_copies[name] = Compact(url);
  }
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    const bool ascii_only = disk.kind == "FAT";
    const fs::path& from = ascii_only ? ascii.path() : source.path();
    const auto& expected = ascii_only ? ascii_copies : copies;
    const fs::path dest = disk.root / "first";
    {
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(from, dest).Run(), expected.size());
      // A FUSE daemon hears of no whole-disk flush: each copy and folder.
      if (disk.fuse) {
        EXPECT_EQ(faults.seen().fsyncs, expected.size());
        EXPECT_EQ(faults.seen().flushes, 0u);
        // The folders written to and made, each and their parents.
        EXPECT_GE(faults.seen().folder_fsyncs, 4u);
      } else {
        EXPECT_EQ(faults.seen().flushes, 1u);
      }
    }
    std::string others;
    EXPECT_EQ(Tree(dest, &others), expected);
    EXPECT_EQ(others, "");
    struct stat before;
    ASSERT_EQ(::stat((dest / "a.url").c_str(), &before), 0);
    {
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(from, dest).Run(), expected.size());
      const faults::Seen seen = faults.seen();
      EXPECT_EQ(seen.writes + seen.renames + seen.flushes + seen.fsyncs, 0u);
    }
    struct stat after;
    ASSERT_EQ(::stat((dest / "a.url").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    if (!disk.fuse) {
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
    EXPECT_EQ(Tree(dest), expected);
    fs::remove_all(dest);
  }
  if (!TestDisks::Get().missing().empty()) {
    GTEST_SKIP() << TestDisks::Get().missing();
  }
}

// A run killed in the middle of a write leaves whole copies, at most an
// empty file where a disk cannot name a file atomically, and temporary
// files, which the next run removes while it completes the copy.
TEST(DiskTest, ARunKilledHalfWayIsCompletedByTheNext) {
  TestFolder source;
  const auto fill = [&](const std::string& url) {
    for (int i = 0; i < 6; ++i) {
      source.Write(
          "F" + std::to_string(i % 2) + "/s" + std::to_string(i) + ".url",
          Full(url));
    }
  };
  for (const TestDisk& disk : TestDisks::Get().all()) {
    for (const int at : {1, 4}) {
      SCOPED_TRACE(disk.kind + " killed at write " + std::to_string(at));
      const fs::path dest = disk.root / "killed";
      fill("http://a/");
      // Copies of an older address stand there already for the second case,
      // so the kill comes in the middle of replacing one.
      if (at == 4) {
        ASSERT_EQ(CompressionRun(source.path(), dest).Run(), 6u);
        fill("http://new/");
      }
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        faults::Scoped faults({.kill_in_write = at});
        CompressionRun(source.path(), dest).Run();
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status));
      std::string temporary;
      for (const auto& [name, bytes] : Tree(dest, &temporary)) {
        EXPECT_TRUE(bytes.empty() || bytes == Compact("http://a/") ||
                    bytes == Compact("http://new/"))
            << name << ": " << bytes;
      }
      EXPECT_EQ(CompressionRun(source.path(), dest).Run(), 6u);
      std::string others;
      const Files copies = Tree(dest, &others);
      EXPECT_EQ(copies.size(), 6u);
      for (const auto& [name, bytes] : copies) {
        EXPECT_EQ(bytes, Compact(at == 4 ? "http://new/" : "http://a/"))
            << name;
      }
      EXPECT_EQ(others, "");
      fs::remove_all(dest);
    }
  }
}

// Two shortcuts whose copies reach one place, by letter case on a disk that
// ignores it, even far apart in a large folder, stop the run naming both,
// on every run; where the disk keeps them apart both are written. Two names
// of one file are two places: hard-linked copies run again cleanly.
TEST(DiskTest, OneCopyPerPlaceNotPerFile) {
  TestFolder source;
  source.Write("Big/A.url", Full("http://upper/"));
  for (int i = 0; i < 300; ++i) {
    source.Write("Big/m" + std::to_string(i) + ".url", Full("http://m/"));
  }
  source.Write("Big/a.url", Full("http://lower/"));
  source.Write("Same/x.url", Full("http://same/"));
  source.Write("Same/y.url", Full("http://same/"));
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    const fs::path dest = disk.root / "places";
    for (int pass = 0; pass < 2; ++pass) {
      CompressionRun run(source.path(), dest);
      const std::string message = ErrorOf([&] { run.Run(); });
      if (!disk.ignores_case) {
        EXPECT_EQ(message, "");
        continue;
      }
      EXPECT_NE(
          message.find((dest / "Big/a.url").string() + "\": The copy of \"" +
                       (source.path() / "Big/A.url").string()),
          std::string::npos)
          << message;
      EXPECT_EQ(ReadBytes(dest / "Big/A.url"), Compact("http://upper/"));
      fs::remove_all(dest / "Big");
    }
    if (disk.hard_links) {
      fs::remove(dest / "Same/y.url");
      fs::create_hard_link(dest / "Same/x.url", dest / "Same/y.url");
      EXPECT_EQ(ErrorOf([&] {
                  CompressionRun(source.path() / "Same", dest / "Same").Run();
                }),
                "");
    }
    fs::remove_all(dest);
  }
}

// What is replaced is what was read: a full shortcut put at a copy's place
// just before the replacement, as a sync client or browser might, is left
// there and named.
TEST(DiskTest, AFileChangedWhileBeingReplacedIsLeftAsItIs) {
  TestFolder source;
  source.Write("a.url", Full("http://new/"));
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    const fs::path dest = disk.root / "race";
    const fs::path copy = dest / "a.url";
    fs::create_directory(dest);
    std::ofstream(copy, std::ios::binary) << Compact("http://old/");
    faults::Plan plan;
    plan.before_rename = [&] {
      std::ofstream(copy, std::ios::binary | std::ios::trunc)
          << Full("http://user/");
    };
    faults::Scoped faults(plan);
    const std::string message =
        ErrorOf([&] { CompressionRun(source.path(), dest).Run(); });
    EXPECT_NE(message.find(copy.string() + "\": It changed while"),
              std::string::npos)
        << message;
    EXPECT_EQ(ReadBytes(copy), Full("http://user/"));
    std::string others;
    Tree(dest, &others);
    EXPECT_EQ(others, "");
    fs::remove_all(dest);
  }
}

// Two fresh disks number their files alike. A file is told apart by its
// disk too, so a copy on one is never taken for a source on the other. And
// an up-to-date copy needs no room: on a full disk the run still finishes.
TEST(DiskTest, FilesOnTwoDisksAreTwoFilesAndAFullDiskTakesAnUpdate) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting disks needs root";
  TestFolder root;
  const fs::path from = root.path() / "A", to = root.path() / "B";
  for (const fs::path& disk : {from, to}) {
    fs::create_directory(disk);
    ASSERT_EQ(
        std::system(("mount -t tmpfs -o size=1m tmpfs '" + disk.string() + "'")
                        .c_str()),
        0);
  }
  for (const std::string url : {"http://old/", "http://new/"}) {
    for (int i = 0; i < 20; ++i) {
      std::ofstream(from / ("s" + std::to_string(i) + ".url"),
                    std::ios::binary | std::ios::trunc)
          << Full(url);
    }
    EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
    EXPECT_EQ(ReadBytes(to / "s7.url"), Compact(url));
  }
  // A folder of the copy that is a link onto another disk: both disks are
  // flushed.
  fs::create_directory(root.path() / "Elsewhere");
  fs::create_directory_symlink(root.path() / "Elsewhere", to / "Sub");
  fs::create_directory(from / "Sub");
  std::ofstream(from / "Sub/x.url", std::ios::binary) << Full("http://x/");
  std::ofstream(from / "s0.url", std::ios::binary) << Full("http://x/");
  {
    faults::Scoped faults({});
    EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
    EXPECT_EQ(faults.seen().flushes, 2u);
  }
  EXPECT_EQ(ReadBytes(root.path() / "Elsewhere/x.url"), Compact("http://x/"));
  {
    std::ofstream filler(to / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
  for (const fs::path& disk : {from, to}) {
    std::system(("umount '" + disk.string() + "'").c_str());
  }
}

}  // namespace
}  // namespace norvale
