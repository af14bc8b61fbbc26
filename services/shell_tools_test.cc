#include "services/shell_tools.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Sorted, at every depth, each path beginning with the folder's text as
// passed, with or without a separator at its end. A shortcut is any name
// whose last four characters are ".url" in any letter case, whatever comes
// before; folders named like shortcuts, links to folders and pipes are
// never taken, nor a link leading nowhere whose name is no shortcut's.
TEST(FindFilesTest, ListsShortcutsBelowTheFolderText) {
  TestFolder tree;
  std::vector<std::string> names = {".url",    "A.URL", "News/Daily/c.url",
                                    "a.b.url", "b.url", "\xC3\xA9.Url"};
  for (const char* other : {"notes.txt", "url", "a.url.txt"})
    tree.Write(other, "");
  fs::create_directories(tree.path() / "folder.url");
#ifndef _WIN32
  // Names no Windows folder can hold.
  names.insert(names.begin(), {"*x.url", "?*.URL"});
  fs::create_symlink(tree.path() / "b.url", tree.path() / "link.url");
  fs::create_symlink(tree.path() / "missing", tree.path() / "dangling");
  fs::create_directory_symlink(tree.path(), tree.path() / "loop");
  ASSERT_EQ(::mkfifo((tree.path() / "pipe.url").c_str(), 0600), 0);
#endif
  for (const std::string& name : names) tree.Write(fs::u8path(name), "");
#ifndef _WIN32
  names.push_back("link.url");
#endif
  const std::string root = tree.path().u8string();
  const std::string sep = NativePath("/").u8string();
  for (const std::string& text : {root, root + sep}) {
    std::vector<std::string> expected;
    for (const std::string& name : names) {
      expected.push_back(text + (text == root ? sep : "") +
                         NativePath(name).u8string());
    }
    std::sort(expected.begin(), expected.end());
    const PathList found =
        ShellTools::Instance().FindFiles(fs::u8path(text), "*.url", true);
    ASSERT_EQ(found.count(), expected.size());
    for (size_t i = 0; i < found.count(); ++i)
      EXPECT_EQ(found[i].u8string(), expected[i]);
  }
}

}  // namespace
}  // namespace norvale
