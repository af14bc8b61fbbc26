#include "services/file_tools.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "testing/test_faults.h"
#endif

#include <iterator>
#include <string>
#include <utility>

#include "ini/ini_format.h"
#include "testing/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

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
      // On Windows, the read-only attribute.
      if (before == "<read-only copy>") {
        fs::permissions(target,
                        fs::perms::owner_write | fs::perms::group_write |
                            fs::perms::others_write,
                        fs::perm_options::remove);
      }
      const std::string kept = ReadBytes(target);
      const auto entries =
          std::distance(fs::directory_iterator(root.path()), {});
      const std::string message = ErrorOf([&] {
        FileWork work;
        FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                            IniText::Bytes("http://new/"),
                                            PathList(), work);
      });
      EXPECT_EQ(std::distance(fs::directory_iterator(root.path()), {}),
                entries);
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
      // So that the folder can be removed on Windows.
      fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    }
  }
}

#ifndef _WIN32
// Network and FUSE file systems give fewer bytes per read than asked, and a
// file locked for a moment elsewhere is not ready at once. The value must
// come whole, in memory bounded by the file's size (the bytes read, and
// their text at two bytes a character); a file that is never ready, a pipe
// and a file larger than any shortcut must be given up on at once, naming
// them.
TEST(ReadIniValueTest, ReadsWholeInBoundedMemoryAndNeverWaitsForEver) {
  TestFolder root;
  const std::string url = "data:," + std::string(1 << 20, 'x');
  const fs::path file =
      root.Write("big.url", "[InternetShortcut]\r\nURL=" + url + "\r\n");
  const fs::path huge = root.Write("huge.url", "");
  fs::resize_file(huge, 3ull << 30);
  const fs::path pipe = root.path() / "pipe.url";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    fs::path file;
    faults::Plan plan;
    const char* reason;  // Empty when the value is read.
  } cases[] = {
      {file, {.read_at_most = 64 << 10}, ""},
      {file, {.read_not_ready = 3}, ""},
      {file, {.read_not_ready = 1 << 30}, "Resource temporarily unavailable"},
      {pipe, {}, "It is not a regular file"},
      {huge, {}, "It holds 3221225472 bytes, more than any shortcut"}};
  for (const auto& c : cases) {
    faults::Scoped faults(c.plan);
    const std::string message = ErrorOf([&] {
      FileWork work;
      EXPECT_EQ(FileTools::Instance().ReadIniValue(c.file, "InternetShortcut",
                                                   "URL", "", 0, work),
                IniText::Bytes(url));
    });
    const std::string said =
        *c.reason ? c.file.string() + "\": " + c.reason : "";
    EXPECT_NE(message.find(said), std::string::npos) << message;
    EXPECT_EQ(message.empty(), said.empty()) << message;
    EXPECT_LE(faults.seen().largest_allocation,
              2 * fs::file_size(file) + (64 << 10));
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace norvale
