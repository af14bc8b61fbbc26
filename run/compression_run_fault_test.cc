// Runs on real folders that fail: a full disk, an unreadable source, paths
// beyond the system's limit. Each must stop with an error naming the path
// and lose nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "run/compression_run.h"
#include "services/error.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::string Shortcut(int i) {
  return "[InternetShortcut]\r\nIDList=\r\nURL=https://www.example" +
         std::to_string(i) + ".com/index.html\r\nIconIndex=1\r\n";
}

std::string Compact(int i) {
  return "[InternetShortcut]\r\nURL=https://www.example" + std::to_string(i) +
         ".com/index.html\r\n";
}

// Runs and returns the Error's message, "" when the run succeeds.
std::string Failure(CompressionRun& run) {
  try {
    run.Run();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(FaultTest, AFullDiskKeepsEveryCopyWrittenBeforeItWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  TestFolder source;
  for (int i = 0; i < 100; ++i) {
    source.Write(
        "F" + std::to_string(i % 7) + "/s" + std::to_string(i) + ".url",
        Shortcut(i));
  }
  TestFolder mount_point;
  if (::mount("tmpfs", mount_point.path().c_str(), "tmpfs", 0, "size=64k") !=
      0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  const fs::path out = mount_point.path() / "Out";
  // A second run replaces existing copies, which needs room of its own.
  for (int pass = 0; pass < 2; ++pass) {
    CompressionRun run(source.path(), out);
    const std::string message = Failure(run);
    EXPECT_NE(message.find(out.string()), std::string::npos) << message;
    EXPECT_NE(message.find("No space left"), std::string::npos) << message;
    EXPECT_LT(run.done(), 100u);
    size_t copies = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().stem().string();
      ASSERT_EQ(entry.path().extension(), ".url") << "left behind: " << entry;
      EXPECT_EQ(ReadBytes(entry.path()), Compact(std::stoi(name.substr(1))))
          << entry;
      ++copies;
    }
    EXPECT_GT(copies, 0u);
    if (pass == 0) {
      EXPECT_EQ(copies, run.done());
    }
  }
  ::umount(mount_point.path().c_str());
}

TEST(FaultTest, AnUnreadableSourceStopsTheRunNamingIt) {
  TestFolder root;
  fs::permissions(root.path(), fs::perms::all);
  root.Write("Src/a.url", Shortcut(1));
  const fs::path locked = root.Write("Src/b.url", Shortcut(2));
  root.Write("Src/c.url", Shortcut(3));
  fs::permissions(root.path() / "Src", fs::perms::all);
  fs::permissions(locked, fs::perms::none);
  const fs::path out = root.path() / "Out";
  // Root reads every file: act as nobody for the run.
  const bool dropped = ::geteuid() == 0;
  if (dropped) {
    ASSERT_EQ(::seteuid(65534), 0);
  }
  CompressionRun run(root.path() / "Src", out);
  const std::string message = Failure(run);
  if (dropped) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  EXPECT_NE(message.find(locked.string()), std::string::npos) << message;
  EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(ReadBytes(out / "a.url"), Compact(1));
  EXPECT_FALSE(fs::exists(out / "b.url"));
  EXPECT_FALSE(fs::exists(out / "c.url"));
}

TEST(FaultTest, DeepTreesAreCopied) {
  TestFolder source;
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "d" + std::to_string(i) + "/";
  source.Write(deep + "deep.url", Shortcut(7));
  TestFolder dest;
  EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 1u);
  EXPECT_EQ(ReadBytes(dest.path() / deep / "deep.url"), Compact(7));
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
  // As a source: the search cannot open the folder.
  {
    TestFolder dest;
    CompressionRun run(too_long, dest.path());
    EXPECT_NE(Failure(run).find("File name too long"), std::string::npos);
  }
  // As a destination: the folder cannot be made.
  {
    TestFolder source;
    source.Write("a.url", Shortcut(1));
    CompressionRun run(source.path(), too_long / "Out");
    const std::string message = Failure(run);
    EXPECT_NE(message.find("File name too long"), std::string::npos) << message;
    EXPECT_EQ(run.done(), 0u);
  }
  // Below a source: the search reaches the folder but cannot read it.
  {
    TestFolder dest;
    CompressionRun run(root.path(), dest.path());
    EXPECT_NE(Failure(run).find("File name too long"), std::string::npos);
  }
  // Too deep to name whole, so removed by rm, which walks by folder.
  EXPECT_EQ(std::system(("rm -rf '" + root.path().string() + "'").c_str()), 0);
}

}  // namespace
}  // namespace norvale
