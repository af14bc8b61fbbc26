// Runs on every kind of disk people copy to, each made for the test: the
// local one, and exFAT, FAT and NTFS through FUSE. The same table runs on
// each: the first run, the run again onto an up-to-date copy, a run killed
// half-way, two shortcuts reaching one copy, a copy changed while it is
// replaced, and hard-linked copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "run/compression_run.h"
#include "services/test_disks.h"
#include "services/test_faults.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// The first run writes every copy whole and flushes it where the disk is;
// running again onto the up-to-date copy writes, renames and flushes
// nothing, and leaves each copy as it was (time and, off FUSE, file), which
// sync and backup tools rely on.
TEST(DiskTest, WritesFlushesAndLeavesUpToDateCopiesAlone) {
  std::vector<std::pair<std::string, std::string>> shortcuts = {
      {"a.url", "http://a/"},
      {"News/b.url", "http://b/"},
      {"News/Daily/c\xC3\xA9.url", "http://c/"}};
  // Enough in one folder to need several of a FAT folder's clusters.
  for (int i = 0; i < 100; ++i) {
    shortcuts.emplace_back("Many/Site " + std::to_string(i) + ".url",
                           "http://" + std::to_string(i) + "/");
  }
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    TestFolder source;
    Files expected;
    for (const auto& [name, url] : shortcuts) {
      // fusefat refuses names beyond ASCII, as it refuses them to cp.
      if (disk.kind == "FAT" && name.find('\xC3') != std::string::npos)
        continue;
      source.Write(name, Shortcut(url));
      expected[name] = Compact(url);
    }
    const fs::path dest = disk.root / "first";
    const auto stamp = [&] {
      struct stat st {};
      ::stat((dest / "a.url").c_str(), &st);
      return std::tuple(st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                        disk.fuse ? 0 : st.st_ino);
    };
    decltype(stamp()) before;
    for (int pass = 0; pass < 2; ++pass) {
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(source.path(), dest).Run(), expected.size());
      const faults::Seen seen = faults.seen();
      if (pass == 1) {
        // A FUSE disk is asked its ways with a file made, linked and
        // removed again.
        EXPECT_EQ(seen.writes + seen.flushes + seen.fsyncs, 0u);
        EXPECT_LE(seen.renames, disk.fuse ? 1u : 0u);
        EXPECT_EQ(stamp(), before);
      } else if (disk.fuse) {
        // A FUSE daemon hears of no whole-disk flush: each copy and folder
        // (those written to and made, and their parents).
        EXPECT_EQ(seen.fsyncs, expected.size());
        EXPECT_EQ(seen.flushes, 0u);
        EXPECT_GE(seen.folder_fsyncs, 4u);
      }
      before = stamp();
      std::string others;
      EXPECT_EQ(Tree(dest, &others), expected);
      EXPECT_EQ(others, "");
    }
    fs::remove_all(dest);
  }
  if (!TestDisks::Get().missing().empty())
    GTEST_SKIP() << TestDisks::Get().missing();
}

// A run killed in the middle of a write leaves whole copies, at most an
// empty file where a disk cannot name a file atomically, and temporary
// files, which the next run removes while it completes the copy.
TEST(DiskTest, ARunKilledHalfWayIsCompletedByTheNext) {
  TestFolder source;
  for (const TestDisk& disk : TestDisks::Get().all()) {
    for (const int at : {1, 4}) {
      SCOPED_TRACE(disk.kind + " killed at write " + std::to_string(at));
      const fs::path dest = disk.root / "killed";
      Files expected = Fill(source, 6, "http://a/");
      // Copies of an older address stand there already for the second case,
      // so the kill comes in the middle of replacing one.
      if (at == 4) {
        ASSERT_EQ(CompressionRun(source.path(), dest).Run(), 6u);
        expected = Fill(source, 6, "http://new/");
      }
      const pid_t child = ::fork();
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
      EXPECT_EQ(Tree(dest, &others), expected);
      EXPECT_EQ(others, "");
      fs::remove_all(dest);
    }
  }
}

// Two shortcuts whose copies reach one place, by letter case on a disk that
// ignores it, even far apart in a large folder, stop the run naming both,
// on every run; where the disk keeps them apart both are written. Two names
// of one file are two places: hard-linked copies run again cleanly. And
// what is replaced is what was read: a full shortcut put at a copy's place
// just before the replacement, as a sync client or browser might, is left
// there and named.
TEST(DiskTest, OneCopyPerPlaceAndOnlyWhatWasRead) {
  TestFolder source;
  source.Write("Big/A.url", Shortcut("http://upper/"));
  for (int i = 0; i < 300; ++i)
    source.Write("Big/m" + std::to_string(i) + ".url", Shortcut("http://m/"));
  source.Write("Big/a.url", Shortcut("http://lower/"));
  source.Write("Same/x.url", Shortcut("http://same/"));
  source.Write("Same/y.url", Shortcut("http://same/"));
  source.Write("Race/a.url", Shortcut("http://new/"));
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
    const fs::path copy = dest / "Race/a.url";
    fs::create_directory(dest / "Race");
    std::ofstream(copy, std::ios::binary) << Compact("http://old/");
    faults::Scoped faults({.before_rename = [&] {
      std::ofstream(copy, std::ios::binary) << Shortcut("http://user/");
    }});
    const std::string message = ErrorOf(
        [&] { CompressionRun(source.path() / "Race", dest / "Race").Run(); });
    EXPECT_NE(message.find(copy.string() + "\": It changed while"),
              std::string::npos)
        << message;
    EXPECT_EQ(ReadBytes(copy), Shortcut("http://user/"));
    std::string others;
    Tree(dest / "Race", &others);
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
    ASSERT_EQ(std::system(
                  ("mount -t tmpfs -o size=1m tmpfs " + disk.string()).c_str()),
              0);
  }
  for (const std::string url : {"http://old/", "http://new/"}) {
    for (int i = 0; i < 20; ++i)
      root.Write("A/s" + std::to_string(i) + ".url", Shortcut(url));
    EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
    EXPECT_EQ(ReadBytes(to / "s7.url"), Compact(url));
  }
  // A folder of the copy that is a link onto another disk: both disks are
  // flushed.
  fs::create_directory(root.path() / "Elsewhere");
  fs::create_directory_symlink(root.path() / "Elsewhere", to / "Sub");
  root.Write("A/Sub/x.url", Shortcut("http://x/"));
  root.Write("A/s0.url", Shortcut("http://x/"));
  {
    faults::Scoped faults({});
    EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
    EXPECT_EQ(faults.seen().flushes, 2u);
  }
  EXPECT_EQ(ReadBytes(root.path() / "Elsewhere/x.url"), Compact("http://x/"));
  // The destination's disk made full.
  std::system(
      ("dd if=/dev/zero bs=4k of=" + (to / "filler").string() + " 2>/dev/null")
          .c_str());
  EXPECT_EQ(ErrorOf([&] { CompressionRun(from, to).Run(); }), "");
  for (const fs::path& disk : {from, to})
    std::system(("umount " + disk.string()).c_str());
}

}  // namespace
}  // namespace norvale
