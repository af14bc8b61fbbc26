#include "services/file_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    EXPECT_EQ(files.FolderPart(c.path).string(), c.folder) << c.path;
    EXPECT_EQ(files.FileNamePart(c.path, 0).string(), c.name) << c.path;
  }
  EXPECT_EQ(files.TextFrom("/Fav/a.url", 5).string(), "/a.url");
  EXPECT_EQ(files.TextFrom("/Fav/a.url", 1).string(), "/Fav/a.url");
  EXPECT_EQ(files.TextFrom("/Fav", 5).string(), "");
  EXPECT_EQ(files.TextFrom("/Fav", 50).string(), "");
}

TEST(CreateFolderTest, MakesMissingParentsAndAcceptsExistingFolders) {
  TestFolder root;
  const fs::path deep = root.path() / "a" / "b" / "c";
  FileTools::Instance().CreateFolder(deep);
  EXPECT_TRUE(fs::is_directory(deep));
  root.Write("a/b/c/keep.url", "x");
  FileTools::Instance().CreateFolder(deep);
  EXPECT_EQ(ReadBytes(deep / "keep.url"), "x");
}

TEST(CreateFolderTest, NamesTheFileInTheWay) {
  TestFolder root;
  root.Write("file", "x");
  for (const fs::path& folder :
       {root.path() / "file", root.path() / "file" / "below" / "deeper"}) {
    const std::string message =
        ErrorOf([&] { FileTools::Instance().CreateFolder(folder); });
    EXPECT_NE(message.find("\"" + (root.path() / "file").string() + "\""),
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
  const fs::path pipe = root.path() / "pipe.url";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const fs::path& bad : {root.path() / "missing.url", pipe, root.path()}) {
    const std::string message = ErrorOf([&] {
      files.ReadIniValue(bad, "InternetShortcut", "URL", "about:blank", 0);
    });
    EXPECT_NE(message.find(bad.string()), std::string::npos) << bad;
  }
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
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
    EXPECT_NE(message.find(c.target.string()), std::string::npos) << message;
  }
  EXPECT_EQ(Names(root.path()), std::vector<std::string>{"folder.url"});
}

TEST(WriteIniValueTest, NeverChangesASourceFile) {
  TestFolder root;
  const std::string compact = "[InternetShortcut]\r\nURL=x\r\n";
  const std::string full = "[InternetShortcut]\r\nURL=x\r\nIconIndex=1\r\n";
  const fs::path compact_source = root.Write("compact.url", compact);
  const fs::path full_source = root.Write("full.url", full);
  const fs::path link = root.path() / "link.url";
  fs::create_symlink(full_source, link);
  const PathList sources({compact_source.native(), full_source.native()});
  FileTools& files = FileTools::Instance();

  // Already holding the very bytes: nothing to write, and no failure.
  files.WriteIniValue(compact_source, "InternetShortcut", "URL",
                      IniText::Bytes("x"), sources);
  EXPECT_EQ(ReadBytes(compact_source), compact);

  for (const fs::path& target : {full_source, link}) {
    const std::string message = ErrorOf([&] {
      files.WriteIniValue(target, "InternetShortcut", "URL",
                          IniText::Bytes("x"), sources);
    });
    EXPECT_NE(message.find(target.string()), std::string::npos) << message;
  }
  EXPECT_EQ(ReadBytes(full_source), full);
  EXPECT_TRUE(fs::is_symlink(link));
}

}  // namespace
}  // namespace norvale
