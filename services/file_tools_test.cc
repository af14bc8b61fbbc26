#include "services/file_tools.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>

#include "services/test_faults.h"
#endif

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "services/ini_format.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// The names in `folder`, sorted.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whatever stands where a copy goes is replaced only when it is empty or a
// compact copy as Norvale writes it; anything else is left as it was and
// named, with the reason. Nothing else is left in the folder either way, on
// every kind of file system.
TEST(WriteIniValueTest, ReplacesOnlyEmptyFilesAndCompactCopies) {
  const std::string compact = "[InternetShortcut]\r\nURL=http://old/\r\n";
  const std::pair<std::string, const char*> cases[] = {
      // What stands there (bytes, or one of three kinds), and the reason
      // given, or null when it is replaced.
      {"", nullptr},
      {compact, nullptr},
      {"[InternetShortcut]\r\nURL=\" a\"\r\n", nullptr},
      {ComposeIniFile("InternetShortcut", "URL", IniText::Unicode(u"\u00e9")),
       nullptr},
      {compact + "IconFile=x\r\n", "more than"},
      {"[A]\r\n" + compact, "more than"},
      {"[InternetShortcut]\nURL=http://old/\n", "more than"},
      {"[InternetShortcut]\r\nURL=\"a\"\r\n", "more than"},
      {"<read-only copy>", "read-only"},
      {"<folder>", "folder"},
#ifndef _WIN32
      {"<link to a copy>", "link"},
  };
  const faults::Plan file_systems[] = {
      {},
      {.no_unnamed_files = true},
      {.no_unnamed_files = true, .no_noreplace_rename = true},
  };
#else
  };
  const int file_systems[] = {0};
#endif
  for ([[maybe_unused]] const auto& file_system : file_systems) {
#ifndef _WIN32
    faults::Scoped faults(file_system);
#endif
    for (const auto& [before, refused] : cases) {
      SCOPED_TRACE(before);
      TestFolder root;
      const fs::path target = root.path() / "a.url";
      if (before == "<folder>") {
        fs::create_directory(target);
      } else if (before == "<link to a copy>") {
        fs::create_symlink(root.Write("other.url", compact), target);
      } else {
        root.Write("a.url", before == "<read-only copy>" ? compact : before);
      }
      const bool read_only = before == "<read-only copy>";
#ifdef _WIN32
      if (read_only) {
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
      }
#else
      if (read_only) ::chmod(target.c_str(), 0444);
#endif
      const std::string kept = ReadBytes(target);
      const std::vector<std::string> names = Names(root.path());
      const std::string message = ErrorOf([&] {
        FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                            IniText::Bytes("http://new/"),
                                            PathList());
      });
      EXPECT_EQ(Names(root.path()), names);
      if (refused == nullptr) {
        EXPECT_EQ(message, "");
        EXPECT_EQ(ReadBytes(target),
                  "[InternetShortcut]\r\nURL=http://new/\r\n");
        continue;
      }
      EXPECT_NE(message.find("\"" + target.u8string() + "\""),
                std::string::npos)
          << message;
      EXPECT_NE(message.find(refused), std::string::npos) << message;
      EXPECT_EQ(ReadBytes(target), kept);
#ifdef _WIN32
      ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    }
  }
}

#ifndef _WIN32
// Network and FUSE file systems give fewer bytes per read than asked. The
// value must come whole, in memory bounded by the file's size; a file that
// is never ready, and a pipe, must be given up on at once, naming them.
TEST(ReadIniValueTest, ReadsWholeInBoundedMemoryAndNeverWaitsForEver) {
  TestFolder root;
  const std::string url = "data:," + std::string(1 << 20, 'x');
  const fs::path file =
      root.Write("big.url", "[InternetShortcut]\r\nURL=" + url + "\r\n");
  FileTools& files = FileTools::Instance();
  {
    faults::Scoped faults({.read_at_most = 64 << 10});
    EXPECT_EQ(files.ReadIniValue(file, "InternetShortcut", "URL", "", 0),
              IniText::Bytes(url));
    // The bytes read, and their text at two bytes a character.
    EXPECT_LE(faults.seen().largest_allocation,
              2 * fs::file_size(file) + (64 << 10));
  }
  {
    // A file locked for a moment elsewhere is waited for.
    faults::Scoped faults({.read_not_ready = 3});
    EXPECT_EQ(files.ReadIniValue(file, "InternetShortcut", "URL", "", 0),
              IniText::Bytes(url));
  }
  // No shortcut is this large; it is not read at all.
  const fs::path huge = root.Write("huge.url", "");
  fs::resize_file(huge, 3ull << 30);
  const fs::path pipe = root.path() / "pipe.url";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    fs::path file;
    faults::Plan plan;
    const char* reason;
  } cases[] = {{file, {.read_never_ready = true}, "unavailable"},
               {pipe, {}, "not a regular file"},
               {huge, {}, "It holds 3221225472 bytes, more than any shortcut"}};
  for (const auto& c : cases) {
    faults::Scoped faults(c.plan);
    const std::string message = ErrorOf(
        [&] { files.ReadIniValue(c.file, "InternetShortcut", "URL", "", 0); });
    EXPECT_NE(message.find(c.file.string()), std::string::npos) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_LT(faults.seen().largest_allocation, 4u << 20);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace norvale
