// Runs the same tables on every kind of disk people copy to, each made for
// the test: tmpfs, the local disk through a bind mount, and exFAT, FAT and
// NTFS through FUSE (the local disk alone without root).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "run/compression_run.h"
#include "run/run_report.h"
#include "testing/test_disks.h"
#include "testing/test_faults.h"
#include "testing/test_folder.h"
#include "testing/test_record.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Returns the first line of what a run from `source` to `destination` tells.
std::string Told(const fs::path& source, const fs::path& destination) {
  CompressionRun run(source, destination);
  const std::string text = RunAndReport(run).text;
  return text.substr(0, text.find("\n\n"));
}

// Runs from `source` to `destination` in a child process that `plan` kills
// half-way, and expects it killed.
void RunKilled(const fs::path& source, const fs::path& destination,
               const faults::Plan& plan, const RunOptions& options = {}) {
  const pid_t child = ::fork();
  if (child == 0) {
    faults::Scoped faults(plan);
    CompressionRun(source, destination, nullptr, options).Run();
    ::_exit(0);
  }
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status)) << status;
}

// Returns the files below `folder` by name, expecting nothing else there.
Files OnlyFiles(const fs::path& folder) {
  std::string others;
  const Files files = Tree(folder, &others);
  EXPECT_EQ(others, "") << folder;
  return files;
}

// Returns the permission bits and the owner of `path`.
std::pair<mode_t, uid_t> ModeOf(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return {st.st_mode & 07777, st.st_uid};
}

// The first run writes every copy whole, as private as its source, and
// flushes it; a run again writes, renames and flushes nothing, leaving each
// copy as it was, for sync and backup tools. An update flushes each folder
// it wrote to; a replaced copy keeps the mode and owner the user gave it.
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
      if (!disk.any_name && name.find('\xC3') != std::string::npos) continue;
      source.Write(name, Shortcut(url));
      expected[name] = Compact(url);
    }
    fs::permissions(source.path() / "News/b.url",
                    fs::perms::owner_read | fs::perms::owner_write);
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
        // A FUSE disk is asked its ways with a file made, maybe linked, and
        // removed again.
        EXPECT_EQ(seen.writes + seen.flushes + seen.fsyncs, 0u);
        EXPECT_LE(seen.renames, disk.fuse ? 1u : 0u);
        EXPECT_EQ(stamp(), before);
      } else if (disk.fuse) {
        // A FUSE daemon hears of no whole-disk flush: each copy, each
        // folder written to, each folder made and its parent, and the
        // record of the copies.
        EXPECT_EQ(seen.fsyncs, expected.size() + 1);
        EXPECT_EQ(seen.flushes, 0u);
        std::set<std::string> folders = {disk.root};
        for (const auto& [name, bytes] : expected) {
          for (fs::path folder = (dest / name).parent_path();
               folder != disk.root; folder = folder.parent_path()) {
            folders.insert(folder);
          }
        }
        EXPECT_EQ(seen.folders_fsynced, folders);
      }
      before = stamp();
      EXPECT_EQ(OnlyFiles(dest), expected);
    }
    {
      // An update run writing into folders that exist flushes each of them,
      // and the top one, whose record of the copies changes with them.
      source.Write("News/b.url", Shortcut("http://b2/"));
      source.Write("Many/Site 7.url", Shortcut("http://b2/"));
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(source.path(), dest).Run(), expected.size());
      if (disk.fuse) {
        EXPECT_EQ(faults.seen().folders_fsynced,
                  (std::set<std::string>{dest, dest / "News", dest / "Many"}));
      }
    }
    if (disk.modes) {
      EXPECT_EQ(ModeOf(dest / "News/b.url").first, 0600u);
      // More private than its source, which a replacement never undoes.
      fs::permissions(dest / "a.url",
                      fs::perms::owner_read | fs::perms::owner_write);
      if (::geteuid() == 0) ::chown((dest / "a.url").c_str(), 4321, 4321);
      const auto mode = ModeOf(dest / "a.url");
      source.Write("a.url", Shortcut("http://changed/"));
      EXPECT_EQ(CompressionRun(source.path(), dest).Run(), expected.size());
      EXPECT_EQ(ReadBytes(dest / "a.url"), Compact("http://changed/"));
      EXPECT_EQ(ModeOf(dest / "a.url"), mode);
    }
    fs::remove_all(dest);
  }
  if (!TestDisks::Get().missing().empty())
    GTEST_SKIP() << TestDisks::Get().missing();
}

// A run killed in the middle of a write (of its first copy, of a later one
// once the disk's ways are known, of a replacement) leaves whole copies, at
// most an empty file where a disk cannot name a file atomically, and
// temporary files, which the next run removes while it completes the copy.
TEST(DiskTest, ARunKilledHalfWayIsCompletedByTheNext) {
  TestFolder source;
  for (const TestDisk& disk : TestDisks::Get().all()) {
    for (const int at : {1, 3, 4}) {
      SCOPED_TRACE(disk.kind + " killed at write " + std::to_string(at));
      const fs::path dest = disk.root / "killed";
      Files expected = Fill(source, 6, "http://a/");
      // Older copies stand there first, so the kill comes while replacing.
      if (at == 4) {
        ASSERT_EQ(CompressionRun(source.path(), dest).Run(), 6u);
        expected = Fill(source, 6, "http://new/");
      }
      RunKilled(source.path(), dest, {.kill_in_write = at});
      std::string temporary;
      for (const auto& [name, bytes] : Tree(dest, &temporary)) {
        EXPECT_TRUE(bytes.empty() || bytes == Compact("http://a/") ||
                    bytes == Compact("http://new/"))
            << name << ": " << bytes;
      }
      EXPECT_EQ(CompressionRun(source.path(), dest).Run(), 6u);
      EXPECT_EQ(OnlyFiles(dest), expected);
      fs::remove_all(dest);
    }
  }
}

// However a file is reached (other letter case, a linked folder, a bind
// mount), it is one file: a source is never written, a destination inside it
// never searched, two shortcuts never share a copy. Case is folded as the
// disk folds it, and a name the disk cannot store is named as such.
TEST(DiskTest, EveryPathAndSpellingOfAFileIsOneFile) {
  const std::string shared = "two shortcuts cannot share one copy";
  const std::string one = "Compressed 1 favorites.",
                    two = "Compressed 2 favorites.";
  std::vector<std::pair<TestDisk, faults::Plan>> disks;
  for (const TestDisk& disk : TestDisks::Get().all()) {
    disks.emplace_back(disk, faults::Plan{});
    // Told apart by real paths, as where numbers do not last, also through
    // links and bind mounts.
    if (!disk.fuse)
      disks.emplace_back(disk, faults::Plan{.numbers_made_up = true});
  }
  for (const auto& [disk, plan] : disks) {
    SCOPED_TRACE(disk.kind + (plan.numbers_made_up ? " by path" : ""));
    // Names given to files where the destination is the source: none.
    std::string taken;
    faults::Plan watched = plan;
    watched.before_name_taken = [&](const char* name) { taken += name; };
    faults::Scoped faults(watched);
    const fs::path at = disk.root / "spell";
    // Sources whose names differ only in case are on the local disk.
    TestFolder local;
    const auto on = [](const fs::path& root, const std::string& name,
                       const std::string& bytes) {
      fs::create_directories((root / name).parent_path());
      std::ofstream(root / name, std::ios::binary) << bytes;
    };
    on(at, "Compact/x.url", Compact("http://x/"));
    on(at, "Compact/y.url", Compact("http://y/"));
    on(at, "Mixed/empty.url", "");
    on(at, "Nest/a.url", Shortcut("http://a/"));
    on(at, "Twins/x/a.url", Shortcut("http://x/"));
    on(at, "Twins/y/a.url", Shortcut("http://y/"));
    // A destination that is the source, all its shortcuts up to date.
    std::vector<std::tuple<fs::path, fs::path, std::string>> runs = {
        {at / "Compact", at / "Compact", two},
        {at / "Compact", at / "COMPACT", two},
        {at / "Mixed", at / "MIXED",
         disk.ignores_case ? "empty.url\": It is one of the source" : one},
        {at / "Nest", at / "Nest/Out", one}};
    if (disk.ignores_case) runs.emplace_back(at / "Nest", at / "Nest/OUT", one);
    if (disk.links) {
      fs::create_directories(at / "TwinsOut/y");
      fs::create_directory_symlink("y", at / "TwinsOut/x");
      runs.emplace_back(at / "Twins", at / "TwinsOut", shared);
    }
    // Names that differ in case, beyond ASCII too, far apart in a folder;
    // exFAT keeps the titlecase "Dz" apart from the small one.
    const std::pair<std::string, std::string> pairs[] = {
        {"A", "a"}, {"CAF\xC3\x89", "caf\xC3\xA9"}, {"\xC7\x85x", "\xC7\x86x"}};
    for (size_t i = 0; i < std::size(pairs); ++i) {
      if (!disk.any_name && i > 0) continue;
      const fs::path pair = local.path() / ("Pair" + std::to_string(i));
      on(pair, pairs[i].first + ".url", Shortcut("http://1/"));
      on(pair, pairs[i].second + ".url", Shortcut("http://2/"));
      for (int k = 0; k < 30; ++k)
        on(pair, "B" + std::to_string(k) + ".url", Compact("http://b/"));
      runs.emplace_back(pair, at / pair.filename(),
                        disk.ignores_case && i < 2 ? shared : "Compressed 32");
    }
    // A spelling that the disk finds under either of two names it keeps
    // apart ("Dz" titlecase and small) is not guessed at.
    if (disk.any_name && disk.ignores_case) {
      on(local.path(), "Capital/\xC7\x84x.url", Shortcut("http://3/"));
      runs.emplace_back(local.path() / "Capital", at / "Pair2",
                        "cannot tell from the folder's other names");
    }
    // FAT's names are ASCII, and fusefat refuses the others.
    if (!disk.any_name) {
      on(local.path(), "Name/caf\xC3\xA9.url", "");
      on(local.path(), "Folder/\xC3\xA9t\xC3\xA9/a.url", "");
      runs.emplace_back(local.path() / "Name", at / "Name",
                        "caf\xC3\xA9.url\": Its disk cannot store a file");
      runs.emplace_back(local.path() / "Folder", at / "Folder",
                        "\xC3\xA9t\xC3\xA9\": Its disk cannot store a folder");
    }
    // The destination inside the source reached through a bind mount.
    TestFolder elsewhere;
    const fs::path bound = elsewhere.path() / "b";
    fs::create_directories(at / "Nest/Out");
    fs::create_directory(bound);
    const bool bind =
        ::geteuid() == 0 &&
        TestDisks::Shell("mount --bind " + (at / "Nest/Out").string() + " " +
                         bound.string());
    if (bind) runs.emplace_back(at / "Nest", bound, one);
    // And a destination elsewhere mounted inside the source: the search
    // meets it as a mount, not as an entry of the folder it stands in.
    const fs::path mounted = elsewhere.path() / "m";
    fs::create_directories(at / "Inner/Mount");
    fs::create_directory(mounted);
    on(at, "Inner/a.url", Shortcut("http://a/"));
    const bool mount = ::geteuid() == 0 &&
                       TestDisks::Shell("mount --bind " + mounted.string() +
                                        " " + (at / "Inner/Mount").string());
    if (mount) runs.emplace_back(at / "Inner", mounted, one);
    for (const auto& [source, dest, said] : runs) {
      for (int pass = 0; pass < 2; ++pass) {
        taken.clear();
        const std::string told = Told(source, dest);
        EXPECT_NE(told.find(said), std::string::npos) << dest << ": " << told;
        if (dest == at / "Compact" ||
            (disk.ignores_case && dest == at / "COMPACT")) {
          EXPECT_EQ(taken, "") << dest;
        }
      }
    }
    if (bind) TestDisks::Shell("umount " + bound.string());
    if (mount) TestDisks::Shell("umount " + (at / "Inner/Mount").string());
    EXPECT_EQ(ReadBytes(at / "Mixed/empty.url"), "");
    EXPECT_EQ(Tree(at / "Nest/Out"), (Files{{"a.url", Compact("http://a/")}}));
    EXPECT_EQ(Tree(at / "Compact").size(), 2u);
    fs::remove_all(at);
  }
}

// Norvale removes what a killed run of its own left, and nothing else: a
// leftover has its temporary name, holds nothing or the start of a compact
// copy, was written before the run, and is in a folder written to that is
// no source folder.
TEST(DiskTest, RemovesItsOwnLeftoversAndNothingElse) {
  // Both times given: FUSE daemons take a time left as it is for now.
  const auto touch = [](const fs::path& file, time_t from_now) {
    const timespec at = {::time(nullptr) + from_now, 0}, both[] = {at, at};
    ::utimensat(AT_FDCWD, file.c_str(), both, 0);
  };
  const struct {
    const char* name;
    std::string bytes;
    bool old, removed;
  } files[] = {
      {"~NV0A1B2.TMP", "", true, true},
      {"~NV0A1B3.TMP", "[InternetShortcut]\r\nURL=http://ha", true, true},
      {"~NV0A1B4.TMP", "\xFF\xFE[\0I\0", true, true},
      {"~NV0A1B5.TMP", "my notes", true, false},
      {"~NV0A1B6.TMP", Shortcut("http://mine/"), true, false},
      {"~NV0A1B7.TMP", "", false, false},
      {"~NV0a1b8.TMP", "", true, false},
      {"~NX0A1B9.TMP", "", true, false},
  };
  TestFolder source;
  source.Write("x.url", Shortcut("http://x/"));
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    for (const bool in_source : {false, true}) {
      const fs::path folder = disk.root / "left";
      fs::create_directories(folder);
      for (const auto& file : files) {
        std::ofstream(folder / file.name, std::ios::binary) << file.bytes;
        touch(folder / file.name, file.old ? -48 * 3600 : 3600);
      }
      std::ofstream(folder / "x.url") << Compact("http://old/");
      // Run onto a copy to replace, or with the destination the source.
      EXPECT_EQ(in_source ? Told(folder, folder) : Told(source.path(), folder),
                "Compressed 1 favorites.");
      for (const auto& file : files) {
        EXPECT_EQ(fs::exists(folder / file.name), !file.removed || in_source)
            << file.name;
      }
      fs::remove_all(folder);
    }
  }
}

// Hard-linked copies run again cleanly. What is replaced is what was read:
// a shortcut put at a copy's place just before the replacement, as a sync
// client might, is left there and named.
TEST(DiskTest, OnlyWhatWasReadIsReplaced) {
  TestFolder source;
  source.Write("Same/x.url", Shortcut("http://same/"));
  source.Write("Same/y.url", Shortcut("http://same/"));
  source.Write("Race/a.url", Shortcut("http://new/"));
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    const fs::path dest = disk.root / "places";
    EXPECT_EQ(Told(source.path(), dest), "Compressed 3 favorites.");
    if (disk.hard_links) {
      fs::remove(dest / "Same/y.url");
      fs::create_hard_link(dest / "Same/x.url", dest / "Same/y.url");
      EXPECT_EQ(Told(source.path() / "Same", dest / "Same"),
                "Compressed 2 favorites.");
    }
    const fs::path copy = dest / "Race/a.url";
    std::ofstream(copy, std::ios::binary) << Compact("http://old/");
    faults::Scoped faults({.before_rename = [&] {
      std::ofstream(copy, std::ios::binary) << Shortcut("http://user/");
    }});
    EXPECT_NE(Told(source.path() / "Race", dest / "Race")
                  .find(copy.string() + "\": It changed while"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(copy), Shortcut("http://user/"));
    OnlyFiles(dest / "Race");
    fs::remove_all(dest);
  }
}

// Two fresh disks number their files alike, so a file is told apart by its
// disk too. Up-to-date copies need no room: a full or read-only disk still
// finishes, read-only named only when a copy must change.
TEST(DiskTest, FilesOnTwoDisksAreTwoFilesAndFullOrReadOnlyDisksTakeUpdates) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting disks needs root";
  TestFolder root;
  const fs::path from = root.path() / "A", to = root.path() / "B";
  for (const fs::path& disk : {from, to}) {
    fs::create_directory(disk);
    ASSERT_TRUE(
        TestDisks::Shell("mount -t tmpfs -o size=1m tmpfs " + disk.string()));
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
  // The destination's disk made full, then read-only.
  TestDisks::Shell("dd if=/dev/zero bs=4k of=" + (to / "filler").string());
  EXPECT_EQ(Told(from, to), "Compressed 21 favorites.");
  TestDisks::Shell("mount -o remount,ro " + to.string());
  EXPECT_EQ(Told(from, to), "Compressed 21 favorites.");
  root.Write("A/s1.url", Shortcut("http://changed/"));
  EXPECT_NE(Told(from, to).find("s1.url\": Its disk is mounted read-only"),
            std::string::npos);
  for (const fs::path& disk : {from, to})
    TestDisks::Shell("umount " + disk.string());
}

// With remove_stale, a run removes the copies whose shortcuts are gone and
// the folders that held only them, nothing else (see the table). A run
// killed while removing leaves each file there or gone, and the next run
// finishes the work, leaving none of its temporary files behind.
TEST(DiskTest, RemovesOnlyCopiesWhoseShortcutsAreGone) {
  TestFolder source, outside;
  source.Write("a.url", Shortcut("http://a/"));
  source.Write("Kept/b.url", Shortcut("http://b/"));
  fs::create_directories(source.path() / "Empty");
  outside.Write("o.url", Compact("http://o/"));
  for (const TestDisk& disk : TestDisks::Get().all()) {
    SCOPED_TRACE(disk.kind);
    const fs::path dest = disk.root / "stale";
    // Each is a copy an earlier run recorded, but for `stray.url`, which
    // only looks like one.
    struct File {
      std::string name, bytes;
      bool stays;
    };
    std::vector<File> files = {
        {"gone.url", Compact("http://g/"), false},
        {"Kept/GONE.URL", Compact("http://g/"), false},
        {"Old/x.url", Compact("http://x/"), false},
        {"Old/Deep/y.url", Compact("http://y/"), false},
        {"Empty/z.url", Compact("http://z/"), false},
        {"Mixed/w.url", Compact("http://w/"), false},
        {"Mixed/mine.txt", "mine", true},
        {"full.url", Shortcut("http://f/"), true},
        {"notes.txt", Compact("http://n/"), true},
        // The copy of a.url where the disk ignores letter case.
        {"A.URL", Compact("http://a/"), disk.ignores_case},
        {"stray.url", Compact("http://s/"), true},
        // Recorded, but changed since by someone else.
        {"Old/edited.url", Compact("http://e/"), true},
    };
    if (disk.modes) files.push_back({"ro.url", Compact("http://r/"), true});
    const auto plant = [&] {
      for (const File& file : files) {
        fs::create_directories((dest / file.name).parent_path());
        std::ofstream(dest / file.name, std::ios::binary) << file.bytes;
      }
      if (disk.modes) fs::permissions(dest / "ro.url", fs::perms::owner_read);
      std::map<std::string, std::string> recorded;
      for (const File& file : files) {
        if (file.name != "stray.url") recorded[file.name] = file.bytes;
      }
      recorded["Old/edited.url"] = Compact("http://before/");
      PlantRecord(dest, source.path(), recorded,
                  {"Old", "Old/Deep", "Mixed", "Kept", "Empty"});
      if (disk.links) {
        fs::create_symlink(outside.path() / "o.url", dest / "link.url");
        fs::create_directory_symlink(outside.path(), dest / "Outside");
      }
    };
    const auto check = [&](bool killed) {
      for (const File& file : files) {
        const fs::path path = dest / file.name;
        if (file.stays || (killed && fs::exists(path))) {
          EXPECT_EQ(ReadBytes(path), file.bytes) << file.name;
        } else {
          EXPECT_FALSE(fs::exists(path)) << file.name;
        }
      }
      if (disk.links) EXPECT_TRUE(fs::is_symlink(dest / "link.url"));
      EXPECT_EQ(ReadBytes(outside.path() / "o.url"), Compact("http://o/"));
      EXPECT_TRUE(fs::is_directory(dest / "Empty"));
      EXPECT_EQ(fs::exists(dest / "Old/Deep"),
                killed && fs::exists(dest / "Old/Deep"));
      // The next run removes what a killed one left, wherever it is.
      for (const auto& entry : fs::recursive_directory_iterator(dest)) {
        EXPECT_TRUE(killed ||
                    entry.path().filename().string().rfind("~NV", 0) != 0)
            << entry.path();
      }
    };
    fs::create_directories(dest);
    plant();
    {
      // Looking first changes nothing, not even to learn the disk.
      faults::Scoped faults({});
      CompressionRun look(source.path(), dest, nullptr,
                          {.remove_stale = true, .look_only = true});
      look.Run();
      EXPECT_EQ(faults.seen().writes + faults.seen().renames, 0u);
      EXPECT_EQ(look.removed(), disk.ignores_case ? 6u : 7u);
    }
    CompressionRun run(source.path(), dest, nullptr, {.remove_stale = true});
    EXPECT_EQ(run.Run(), 2u);
    EXPECT_EQ(run.removed(), disk.ignores_case ? 6u : 7u);
    EXPECT_EQ(run.stale(), run.removed() + (disk.modes ? 1 : 0));
    EXPECT_EQ(run.unrecorded(), 2u);
    check(false);
    for (const int at : {2, 4, 7, 10}) {
      SCOPED_TRACE(at);
      fs::remove_all(dest);
      fs::create_directories(dest);
      plant();
      RunKilled(source.path(), dest, {.kill_at_removal = at},
                {.remove_stale = true});
      check(true);
      // What the killed run left predates the next, also on FAT (2 s times).
      for (const auto& entry : fs::recursive_directory_iterator(dest)) {
        if (entry.path().filename().string().rfind("~NV", 0) == 0) {
          fs::last_write_time(entry.path(), fs::last_write_time(entry.path()) -
                                                std::chrono::minutes(5));
        }
      }
      CompressionRun(source.path(), dest, nullptr, {.remove_stale = true})
          .Run();
      check(false);
    }
    if (disk.modes) fs::permissions(dest / "ro.url", fs::perms::owner_all);
    fs::remove_all(dest);
  }
  if (!TestDisks::Get().missing().empty())
    GTEST_SKIP() << TestDisks::Get().missing();
}

}  // namespace
}  // namespace norvale
