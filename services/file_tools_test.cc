#include "services/file_tools.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "services/error.h"
#include "services/file_io.h"
#include "services/test_folder.h"
#ifndef _WIN32
#include "services/test_faults.h"
#endif

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

// Every run makes the ordinary cuts; the edges are checked here.
TEST(PathPartsTest, CutPathsByText) {
  FileTools& files = FileTools::Instance();
  // "/" stands for the platform's separator; texts are compared, as paths
  // take "//" for "/".
  struct {
    const char* path;
    const char* folder;
    const char* name;
  } const cases[] = {
      {"News/b.url", "News", "b.url"},
      {"/a.url", "/", "a.url"},
      {"a.url", "", "a.url"},
      {"/Out//b.url", "/Out/", "b.url"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.FolderPart(NativePath(c.path)).native(),
              NativePath(c.folder).native())
        << c.path;
    EXPECT_EQ(files.FileNamePart(NativePath(c.path), 0).native(),
              NativePath(c.name).native())
        << c.path;
  }
  EXPECT_EQ(files.TextFrom(NativePath("/Fav/a.url"), 5).native(),
            NativePath("/a.url").native());
  EXPECT_EQ(files.TextFrom(NativePath("/Fav"), 5), fs::path());
}

// Runs read shortcuts, with and without the key, everywhere; a pipe must be
// refused at once, not waited on.
TEST(ReadIniValueTest, RefusesAPipeAtOnce) {
#ifdef _WIN32
  const fs::path pipe =
      L"\\\\.\\pipe\\norvale-test-" + std::to_wstring(::GetCurrentProcessId());
  const HANDLE server =
      ::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_BYTE | PIPE_WAIT, 2, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
#else
  TestFolder root;
  const fs::path pipe = root.path() / "pipe.url";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
#endif
  const std::string message = ErrorOf([&] {
    FileTools::Instance().ReadIniValue(pipe, "InternetShortcut", "URL", "", 0);
  });
  EXPECT_NE(message.find(pipe.u8string()), std::string::npos) << message;
  EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
#ifdef _WIN32
  ::CloseHandle(server);
#endif
}

#ifndef _WIN32
// Network and FUSE file systems give fewer bytes per read than asked. The
// value must come whole, in memory bounded by the file's size, and a file
// that is never ready must be given up on, naming it.
TEST(ReadIniValueTest, ReadsFilesThatComeInPiecesInBoundedMemory) {
  TestFolder root;
  const std::string url = "data:," + std::string(1 << 20, 'x');
  const fs::path file =
      root.Write("big.url", "[InternetShortcut]\r\nURL=" + url + "\r\n");
  const size_t size = fs::file_size(file);
  {
    faults::Scoped faults({.read_at_most = 64 << 10});
    const IniText value = FileTools::Instance().ReadIniValue(
        file, "InternetShortcut", "URL", "", 0);
    EXPECT_EQ(value.ToUtf8(), url);
    // The reader's bytes, and the decoded text of two bytes a character.
    EXPECT_LE(faults.seen().largest_allocation, 2 * size + (64 << 10));
  }
  faults::Scoped faults({.read_never_ready = true});
  const std::string message = ErrorOf([&] {
    FileTools::Instance().ReadIniValue(file, "InternetShortcut", "URL", "", 0);
  });
  EXPECT_NE(message.find(file.string()), std::string::npos) << message;
  EXPECT_NE(message.find("unavailable"), std::string::npos) << message;
}

// However the file system names a new file, the name either shows all of it
// or is refused, touching nothing, when it is taken; no temporary is left.
TEST(WriteNewFileTest, NamesAWholeFileAndNeverReplaces) {
  const struct {
    const char* file_system;
    faults::Plan plan;
  } cases[] = {
      {"with unnamed files", {}},
      {"without unnamed files", {.no_unnamed_files = true}},
      {"without unnamed files or a rename that refuses",
       {.no_unnamed_files = true, .no_noreplace_rename = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file_system);
    TestFolder root;
    root.Write("taken.url", "mine");
    fs::create_symlink("missing", root.path() / "dangling.url");
    faults::Scoped faults(c.plan);
    EXPECT_TRUE(WriteNewFile(root.path() / "new.url", "copy"));
    EXPECT_FALSE(WriteNewFile(root.path() / "taken.url", "copy"));
    EXPECT_FALSE(WriteNewFile(root.path() / "dangling.url", "copy"));
    EXPECT_EQ(ReadBytes(root.path() / "new.url"), "copy");
    EXPECT_EQ(ReadBytes(root.path() / "taken.url"), "mine");
    EXPECT_EQ(Names(root.path()), (std::vector<std::string>{
                                      "dangling.url", "new.url", "taken.url"}));
  }
}
#endif  // _WIN32

// Whatever stands where a copy goes is replaced only when it is empty or a
// compact copy as Norvale writes it; anything else is left as it was and
// named, with the reason. Nothing else is left in the folder either way.
TEST(WriteIniValueTest, ReplacesOnlyEmptyFilesAndCompactCopies) {
  using namespace std::string_literals;
  const std::string compact = "[InternetShortcut]\r\nURL=http://old/\r\n";
  const std::string wide_compact =
      "\xFF\xFE"s + std::string(
                        "[\0I\0n\0t\0e\0r\0n\0e\0t\0S\0h\0o\0r\0t\0c\0u"
                        "\0t\0]\0\r\0\n\0U\0R\0L\0=\0\xE9\0\r\0\n\0"s);
  enum Kind { kFile, kReadOnly, kLink, kFolder };
  const struct {
    const char* what;
    Kind kind;
    std::string before;
    const char* refused;  // The reason given, or null when it is replaced.
  } cases[] = {
      {"empty", kFile, "", nullptr},
      {"compact", kFile, compact, nullptr},
      {"compact, quoted", kFile, "[InternetShortcut]\r\nURL=\" a\"\r\n",
       nullptr},
      {"compact, UTF-16", kFile, wide_compact, nullptr},
      {"full shortcut", kFile,
       "[InternetShortcut]\r\nURL=http://old/\r\nIconFile=x\r\n",
       "holds more than a compact copy"},
      {"other section first", kFile, "[A]\r\n" + compact,
       "holds more than a compact copy"},
      {"other line ends", kFile, "[InternetShortcut]\nURL=http://old/\n",
       "holds more than a compact copy"},
      {"needless quotes", kFile, "[InternetShortcut]\r\nURL=\"a\"\r\n",
       "holds more than a compact copy"},
      {"no address", kFile, "[InternetShortcut]\r\n",
       "holds more than a compact copy"},
      {"read-only copy", kReadOnly, compact, "read-only"},
      {"folder", kFolder, "", "folder"},
#ifndef _WIN32
      {"link to a copy", kLink, compact, "link"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestFolder root;
    const fs::path target = root.path() / "a.url";
    std::vector<std::string> names = {"a.url"};
    switch (c.kind) {
      case kFile:
        root.Write("a.url", c.before);
        break;
      case kReadOnly:
        root.Write("a.url", c.before);
#ifdef _WIN32
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
#else
        fs::permissions(target, fs::perms::owner_read | fs::perms::group_read |
                                    fs::perms::others_read);
#endif
        break;
      case kLink:
        root.Write("other.url", c.before);
        fs::create_symlink("other.url", target);
        names.push_back("other.url");
        break;
      case kFolder:
        fs::create_directory(target);
        break;
    }
    const std::string message = ErrorOf([&] {
      FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                          IniText::Bytes("http://new/"),
                                          PathList());
    });
    if (c.refused == nullptr) {
      EXPECT_EQ(message, "");
      EXPECT_EQ(ReadBytes(target), "[InternetShortcut]\r\nURL=http://new/\r\n");
    } else {
      EXPECT_NE(message.find("\"" + target.u8string() + "\""),
                std::string::npos)
          << message;
      EXPECT_NE(message.find(c.refused), std::string::npos) << message;
      if (c.kind != kFolder) {
        EXPECT_EQ(ReadBytes(target), c.before);
      }
    }
    EXPECT_EQ(Names(root.path()), names);
#ifdef _WIN32
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
  }
}

// Where the copy cannot be made at all, the error names it and nothing is
// left behind.
TEST(WriteIniValueTest, FailsCleanlyWhereItCannotWrite) {
  TestFolder root;
  const struct {
    fs::path target;
    const char* value;
  } cases[] = {
      {root.path() / "missing" / "a.url", "x"},
      {root.path() / "a.url", "line\r\nbreak"},
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf([&] {
      FileTools::Instance().WriteIniValue(c.target, "InternetShortcut", "URL",
                                          IniText::Bytes(c.value), PathList());
    });
    EXPECT_NE(message.find(c.target.u8string()), std::string::npos) << message;
  }
  EXPECT_TRUE(fs::is_empty(root.path()));
}

}  // namespace
}  // namespace norvale
