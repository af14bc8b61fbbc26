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

TEST(WriteIniValueTest, ReplacesAFullerFileWholeAndLeavesNoTemporaryFile) {
  TestFolder root;
  const fs::path target = root.Write(
      "a.url", "[Other]\r\nX=1\r\n[InternetShortcut]\r\nURL=old\r\nIcon=2\r\n");
  FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                      IniText::Bytes("http://new/"),
                                      PathList());
  EXPECT_EQ(ReadBytes(target), "[InternetShortcut]\r\nURL=http://new/\r\n");
  EXPECT_EQ(Names(root.path()), std::vector<std::string>{"a.url"});
}

#ifndef _WIN32
TEST(WriteIniValueTest, ReplacesALinkInsteadOfWritingThroughIt) {
  TestFolder root;
  const fs::path other = root.Write("other.url", "keep");
  const fs::path target = root.path() / "a.url";
  fs::create_symlink(other, target);
  FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                      IniText::Bytes("x"), PathList());
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(ReadBytes(other), "keep");
}
#endif

// Sources the run meets as targets are tested through runs over their own
// folder; these are the copies that cannot be written.
TEST(WriteIniValueTest, FailsCleanlyWhereItCannotWrite) {
  TestFolder root;
  const fs::path folder = root.path() / "folder.url";
  fs::create_directory(folder);
  std::vector<std::string> names = {"folder.url"};
#ifdef _WIN32
  // A read-only copy is refused and left as it was.
  const fs::path read_only = root.Write("read-only.url", "old");
  ASSERT_TRUE(::SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  names.push_back("read-only.url");
#endif
  const struct {
    fs::path target;
    const char* value;
  } cases[] = {
      {folder, "x"},
      {root.path() / "missing" / "a.url", "x"},
      {root.path() / "a.url", "line\r\nbreak"},
#ifdef _WIN32
      {read_only, "x"},
#endif
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf([&] {
      FileTools::Instance().WriteIniValue(c.target, "InternetShortcut", "URL",
                                          IniText::Bytes(c.value), PathList());
    });
    EXPECT_NE(message.find(c.target.u8string()), std::string::npos) << message;
  }
  EXPECT_EQ(Names(root.path()), names);
#ifdef _WIN32
  EXPECT_EQ(ReadBytes(read_only), "old");
  ::SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

}  // namespace
}  // namespace norvale
