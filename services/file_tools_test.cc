#include "services/file_tools.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <string>

#include "services/error.h"
#include "services/ini_format.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Returns the message of the Error `action` throws, or "" when none.
template <typename Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(PathPartsTest, CutPathsByText) {
  FileTools& files = FileTools::Instance();
  // "/" stands for the platform's separator.
  struct {
    const char* path;
    const char* folder;
    const char* name;
  } const cases[] = {
      {"/Out/News/b.url", "/Out/News", "b.url"},
      {"/a.url", "/", "a.url"},
      {"a.url", "", "a.url"},
      {"News/b.url", "News", "b.url"},
      {"/Out//b.url", "/Out/", "b.url"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.FolderPart(NativePath(c.path)), NativePath(c.folder))
        << c.path;
    EXPECT_EQ(files.FileNamePart(NativePath(c.path), 0), NativePath(c.name))
        << c.path;
  }
  const fs::path fav = NativePath("/Fav/a.url");
  EXPECT_EQ(files.TextFrom(fav, 5), NativePath("/a.url"));
  EXPECT_EQ(files.TextFrom(fav, 1), fav);
  EXPECT_EQ(files.TextFrom(NativePath("/Fav"), 5), fs::path());
  EXPECT_EQ(files.TextFrom(NativePath("/Fav"), 50), fs::path());
}

#ifdef _WIN32
TEST(PathPartsTest, TakeTypedSlashesAsSeparatorsOnWindows) {
  FileTools& files = FileTools::Instance();
  EXPECT_EQ(files.FolderPart(L"C:/Out/News"), fs::path(L"C:/Out"));
  EXPECT_EQ(files.FolderPart(L"C:/Out\\b.url"), fs::path(L"C:/Out"));
  EXPECT_EQ(files.FileNamePart(L"C:\\Out/b.url", 0), fs::path(L"b.url"));
}
#endif

TEST(CreateFolderTest, MakesMissingParentsAndAcceptsExistingFolders) {
  TestFolder root;
  const fs::path deep = root.path() / "a" / "b" / "c";
  FileTools::Instance().CreateFolder(deep);
  EXPECT_TRUE(fs::is_directory(deep));
  root.Write("a/b/c/keep.url", "x");
  FileTools::Instance().CreateFolder(deep);
  EXPECT_EQ(ReadBytes(deep / "keep.url"), "x");

  // However the user typed the separators, every missing parent is made.
  const fs::path typed = fs::u8path(root.path().u8string() + "/d/e/f");
  FileTools::Instance().CreateFolder(typed);
  EXPECT_TRUE(fs::is_directory(root.path() / "d" / "e" / "f"));
}

TEST(CreateFolderTest, NamesTheFileInTheWay) {
  TestFolder root;
  root.Write("file", "x");
  for (const fs::path& folder :
       {root.path() / "file", root.path() / "file" / "below" / "deeper"}) {
    const std::string message =
        ErrorOf([&] { FileTools::Instance().CreateFolder(folder); });
    EXPECT_NE(message.find("\"" + (root.path() / "file").u8string() + "\""),
              std::string::npos)
        << message;
  }
  EXPECT_EQ(ReadBytes(root.path() / "file"), "x");
}

TEST(ReadIniValueTest, ReadsFilesAndFailsOnWhatIsNoFile) {
  TestFolder root;
  const fs::path shortcut =
      root.Write("a.url", "[InternetShortcut]\r\nURL=http://a/\r\n");
  const fs::path empty = root.Write("empty.url", "");
  FileTools& files = FileTools::Instance();
  EXPECT_EQ(
      files.ReadIniValue(shortcut, "InternetShortcut", "URL", "about:blank", 0)
          .ToUtf8(),
      "http://a/");
  EXPECT_EQ(
      files.ReadIniValue(empty, "InternetShortcut", "URL", "about:blank", 0)
          .ToUtf8(),
      "about:blank");

  // A pipe must be refused at once, not waited on.
#ifdef _WIN32
  const fs::path pipe =
      L"\\\\.\\pipe\\norvale-test-" + std::to_wstring(::GetCurrentProcessId());
  const HANDLE server =
      ::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_BYTE | PIPE_WAIT, 2, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
#else
  const fs::path pipe = root.path() / "pipe.url";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
#endif
  for (const fs::path& bad : {root.path() / "missing.url", pipe, root.path()}) {
    const std::string message = ErrorOf([&] {
      files.ReadIniValue(bad, "InternetShortcut", "URL", "about:blank", 0);
    });
    EXPECT_NE(message.find(bad.u8string()), std::string::npos) << message;
  }
#ifdef _WIN32
  ::CloseHandle(server);
#endif
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
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

TEST(WriteIniValueTest, FailsCleanlyWhereItCannotWrite) {
  TestFolder root;
  fs::create_directory(root.path() / "folder.url");
  const IniText value = IniText::Bytes("x");
  const struct {
    fs::path target;
    IniText value;
  } cases[] = {
      {root.path() / "folder.url", value},
      {root.path() / "missing" / "a.url", value},
      {root.path() / "a.url", IniText::Bytes("line\r\nbreak")},
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf([&] {
      FileTools::Instance().WriteIniValue(c.target, "InternetShortcut", "URL",
                                          c.value, PathList());
    });
    EXPECT_NE(message.find(c.target.u8string()), std::string::npos) << message;
  }
  EXPECT_EQ(Names(root.path()), std::vector<std::string>{"folder.url"});
}

#ifdef _WIN32
TEST(WriteIniValueTest, FailsOnAReadOnlyCopyLeavingItAsItWas) {
  TestFolder root;
  const fs::path target = root.Write("a.url", "old");
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string message = ErrorOf([&] {
    FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                        IniText::Bytes("x"), PathList());
  });
  EXPECT_NE(message.find(target.u8string()), std::string::npos) << message;
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(Names(root.path()), std::vector<std::string>{"a.url"});
  ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

TEST(WriteIniValueTest, NeverChangesASourceFile) {
  TestFolder root;
  const std::string compact = "[InternetShortcut]\r\nURL=x\r\n";
  const std::string full = "[InternetShortcut]\r\nURL=x\r\nIconIndex=1\r\n";
  const fs::path compact_source = root.Write("compact.url", compact);
  const fs::path full_source = root.Write("full.url", full);
  // The same file under another name: a link to it, or on Windows another
  // spelling of its name.
#ifdef _WIN32
  const fs::path other_name = fs::u8path(root.path().u8string() + "/FULL.URL");
#else
  const fs::path other_name = root.path() / "link.url";
  fs::create_symlink(full_source, other_name);
#endif
  const PathList sources({compact_source.native(), full_source.native()});
  FileTools& files = FileTools::Instance();

  // Already holding the very bytes: nothing to write, and no failure.
  files.WriteIniValue(compact_source, "InternetShortcut", "URL",
                      IniText::Bytes("x"), sources);
  EXPECT_EQ(ReadBytes(compact_source), compact);

  for (const fs::path& target : {full_source, other_name}) {
    const std::string message = ErrorOf([&] {
      files.WriteIniValue(target, "InternetShortcut", "URL",
                          IniText::Bytes("x"), sources);
    });
    EXPECT_NE(message.find(target.u8string()), std::string::npos) << message;
  }
  EXPECT_EQ(ReadBytes(full_source), full);
  EXPECT_EQ(ReadBytes(other_name), full);
}

}  // namespace
}  // namespace norvale
