// Runs on real folders that fail: a full disk, an unreadable source, a kill
// half-way, a disk that cannot flush. Each
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

// Returns the number of copies below `out`, each checked to be whole; any
// other file left there but a temporary one fails the test.
size_t WholeCopies(const fs::path& out) {
  size_t copies = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    if (entry.path().extension() == ".tmp") continue;
    EXPECT_EQ(entry.path().extension(), ".url") << "left behind: " << entry;
    EXPECT_EQ(ReadBytes(entry.path()), kCompact) << entry;
    ++copies;
  }
  return copies;
}

// A source of `count` shortcuts in a few folders.
void Fill(const TestFolder& source, int count) {
  for (int i = 0; i < count; ++i) {
    source.Write(
        "F" + std::to_string(i % 7) + "/s" + std::to_string(i) + ".url",
        kShortcut);
  }
}

TEST(FaultTest, AFullDiskKeepsEveryCopyWrittenBeforeItWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  TestFolder source, mount_point;
  Fill(source, 100);
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
  CompressionRun run(source.path(), out);
  const std::string message = ErrorOf([&] { run.Run(); });
  EXPECT_NE(message.find(out.string()), std::string::npos) << message;
  EXPECT_NE(message.find("No space left"), std::string::npos) << message;
  EXPECT_GT(run.done(), 0u);
  EXPECT_EQ(WholeCopies(out), run.done());
}

// A run killed in the middle of writing a copy, on every kind of file
// system, leaves only whole copies under names a search lists; the next run
// completes over what it left.
TEST(FaultTest, AKilledRunLeavesOnlyWholeCopies) {
  TestFolder source;
  Fill(source, 6);
  const faults::Plan file_systems[] = {
      {},
      {.no_unnamed_files = true},
      {.no_unnamed_files = true, .no_noreplace_rename = true},
  };
  for (const faults::Plan& file_system : file_systems) {
    for (int kill_at : {1, 4}) {
      SCOPED_TRACE(kill_at + 10 * (file_system.no_unnamed_files +
                                   file_system.no_noreplace_rename));
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
      EXPECT_EQ(WholeCopies(dest.path()), static_cast<size_t>(kill_at - 1));
      EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 6u);
      EXPECT_EQ(WholeCopies(dest.path()), 6u);
    }
  }
}

// "Finished" is shown once the copies are on the disk: one flush of the
// destination's file system per run, whose failure is reported.
TEST(FaultTest, ARunFlushesItsCopiesOnceAndReportsAFailingDisk) {
  TestFolder source;
  Fill(source, 3);
  // Told of the flush, as a window is, it runs on a thread of its own.
  struct : RunObserver {
    bool Searching(size_t, size_t) override { return true; }
    bool Compressing(size_t, size_t) override { return true; }
    void Flushing() override {}
  } window;
  for (RunObserver* observer : {static_cast<RunObserver*>(nullptr),
                                static_cast<RunObserver*>(&window)}) {
    TestFolder dest;
    {
      faults::Scoped faults({});
      EXPECT_EQ(CompressionRun(source.path(), dest.path(), observer).Run(), 3u);
      EXPECT_EQ(faults.seen().flushes, 1u);
    }
    faults::Scoped faults({.flush_error = EIO});
    const std::string message = ErrorOf(
        [&] { CompressionRun(source.path(), dest.path(), observer).Run(); });
    EXPECT_NE(message.find("\"" + dest.path().string() + "\": Input/output"),
              std::string::npos)
        << message;
  }
}

TEST(FaultTest, AnUnreadableSourceStopsTheRunNamingIt) {
  TestFolder root;
  fs::permissions(root.path(), fs::perms::all);
  root.Write("Src/a.url", kShortcut);
  const fs::path locked = root.Write("Src/b.url", kShortcut);
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
  EXPECT_EQ(WholeCopies(out), 1u);
}

}  // namespace
}  // namespace norvale
