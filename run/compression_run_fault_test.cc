// Runs on real folders that fail: a full disk, an unreadable source, paths
// beyond the system's limit, a kill half-way, a disk that cannot flush. Each
// must stop with an error naming the path and lose nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "run/compression_run.h"
#include "services/error.h"
#include "services/test_faults.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

const std::string kShortcut =
    "[InternetShortcut]\r\nIDList=\r\nURL=https://www.example.com/\r\n"
    "IconIndex=1\r\n";
const std::string kCompact =
    "[InternetShortcut]\r\nURL=https://www.example.com/\r\n";

TEST(FaultTest, AFullDiskKeepsEveryCopyWrittenBeforeItWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  TestFolder source;
  for (int i = 0; i < 100; ++i) {
    source.Write(
        "F" + std::to_string(i % 7) + "/s" + std::to_string(i) + ".url",
        kShortcut);
  }
  TestFolder mount_point;
  if (::mount("tmpfs", mount_point.path().c_str(), "tmpfs", 0, "size=64k") !=
      0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  // Unmounted however the test ends, before its folder is removed.
  struct Unmount {
    const fs::path& at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{mount_point.path()};
  const fs::path out = mount_point.path() / "Out";
  // A second run replaces existing copies, which needs room of its own.
  for (int pass = 0; pass < 2; ++pass) {
    CompressionRun run(source.path(), out);
    const std::string message = ErrorOf([&] { run.Run(); });
    EXPECT_NE(message.find(out.string()), std::string::npos) << message;
    EXPECT_NE(message.find("No space left"), std::string::npos) << message;
    EXPECT_LT(run.done(), 100u);
    size_t copies = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_regular_file()) continue;
      ASSERT_EQ(entry.path().extension(), ".url") << "left behind: " << entry;
      EXPECT_EQ(ReadBytes(entry.path()), kCompact) << entry;
      ++copies;
    }
    EXPECT_GT(copies, 0u);
    if (pass == 0) {
      EXPECT_EQ(copies, run.done());
    }
  }
}

// A run killed in the middle of writing a copy, on every kind of file
// system, leaves only whole copies under names a search lists; the next run
// completes over what it left.
TEST(FaultTest, AKilledRunLeavesOnlyWholeCopies) {
  TestFolder source;
  for (int i = 0; i < 6; ++i) {
    source.Write(
        "F" + std::to_string(i % 2) + "/s" + std::to_string(i) + ".url",
        kShortcut);
  }
  const faults::Plan file_systems[] = {
      {},
      {.no_unnamed_files = true},
      {.no_unnamed_files = true, .no_noreplace_rename = true},
  };
  for (const faults::Plan& file_system : file_systems) {
    for (int kill_at : {1, 4}) {
      SCOPED_TRACE(std::to_string(file_system.no_unnamed_files) +
                   std::to_string(file_system.no_noreplace_rename) + " " +
                   std::to_string(kill_at));
      TestFolder dest;
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        faults::Plan plan = file_system;
        plan.kill_in_write = kill_at;
        faults::Scoped faults(plan);
        CompressionRun(source.path(), dest.path()).Run();
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      size_t copies = 0;
      for (const auto& entry : fs::recursive_directory_iterator(dest.path())) {
        if (entry.path().extension() != ".url") continue;
        EXPECT_EQ(ReadBytes(entry.path()), kCompact) << entry;
        ++copies;
      }
      EXPECT_EQ(copies, static_cast<size_t>(kill_at - 1));
      EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 6u);
    }
  }
}

// "Finished" is shown once the copies are on the disk: one flush of the
// destination's file system per run, whose failure is reported.
TEST(FaultTest, ARunFlushesItsCopiesOnceAndReportsAFailingDisk) {
  TestFolder source;
  for (int i = 0; i < 3; ++i) {
    source.Write("s" + std::to_string(i) + ".url", kShortcut);
  }
  struct : RunObserver {
    bool Searching(size_t, size_t) override { return true; }
    bool Compressing(size_t, size_t) override { return true; }
    void Flushing() override {}
  } observer;
  for (RunObserver* watching : {static_cast<RunObserver*>(nullptr),
                                static_cast<RunObserver*>(&observer)}) {
    TestFolder dest;
    {
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(source.path(), dest.path(), watching).Run(), 3u);
      EXPECT_EQ(faults.seen().flushes, 1u);
    }
    faults::Scoped faults({.flush_error = EIO});
    CompressionRun run(source.path(), dest.path(), watching);
    const std::string message = ErrorOf([&] { run.Run(); });
    EXPECT_NE(message.find("\"" + dest.path().string() + "\""),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Input/output error"), std::string::npos) << message;
  }
}

TEST(FaultTest, AnUnreadableSourceStopsTheRunNamingIt) {
  TestFolder root;
  fs::permissions(root.path(), fs::perms::all);
  root.Write("Src/a.url", kShortcut);
  const fs::path locked = root.Write("Src/b.url", kShortcut);
  root.Write("Src/c.url", kShortcut);
  fs::permissions(root.path() / "Src", fs::perms::all);
  fs::permissions(locked, fs::perms::none);
  const fs::path out = root.path() / "Out";
  // Root reads every file: act as nobody for the run.
  const bool dropped = ::geteuid() == 0;
  ASSERT_EQ(dropped ? ::seteuid(65534) : 0, 0);
  CompressionRun run(root.path() / "Src", out);
  const std::string message = ErrorOf([&] { run.Run(); });
  ASSERT_EQ(dropped ? ::seteuid(0) : 0, 0);
  EXPECT_NE(message.find(locked.string()), std::string::npos) << message;
  EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(ReadBytes(out / "a.url"), kCompact);
  EXPECT_FALSE(fs::exists(out / "b.url"));
  EXPECT_FALSE(fs::exists(out / "c.url"));
}

// Makes a chain of folders whose full path is longer than PATH_MAX, one
// level at a time relative to the last, as the system allows.
fs::path MakeTooLongPath(const fs::path& root) {
  const std::string part(200, 'x');
  const int top = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  int fd = top;
  fs::path path = root;
  while (path.native().size() <= PATH_MAX) {
    if (::mkdirat(fd, part.c_str(), 0755) != 0) std::abort();
    const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd != top) ::close(fd);
    fd = next;
    path /= part;
  }
  // A shortcut at the far end, for the search to have to reach.
  const int file = ::openat(fd, "far.url", O_WRONLY | O_CREAT, 0644);
  ::close(file);
  ::close(fd);
  ::close(top);
  return path;
}

TEST(FaultTest, PathsBeyondTheSystemLimitGiveAClearError) {
  TestFolder root;
  const fs::path too_long = MakeTooLongPath(root.path());
  TestFolder other;
  other.Write("a.url", kShortcut);
  // As a source the search cannot open it; below one it cannot read it; as
  // a destination it cannot be made.
  const struct {
    fs::path source, dest;
  } cases[] = {{too_long, other.path()},
               {root.path(), other.path()},
               {other.path(), too_long / "Out"}};
  for (const auto& c : cases) {
    CompressionRun run(c.source, c.dest);
    const std::string message = ErrorOf([&] { run.Run(); });
    EXPECT_NE(message.find("\"" + too_long.string()), std::string::npos)
        << message;
    EXPECT_NE(message.find("File name too long"), std::string::npos) << message;
    EXPECT_EQ(run.done(), 0u);
  }
  // Too deep to name whole, so removed by rm, which walks by folder.
  EXPECT_EQ(std::system(("rm -rf '" + root.path().string() + "'").c_str()), 0);
}

}  // namespace
}  // namespace norvale
