#include "services/shell_tools.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/test_folder.h"

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

#ifndef _WIN32
// The desktop is where the user-dirs settings put it, read as xdg-user-dir
// reads them (a shell sourcing them) and kept as bytes; none when they name
// no absolute folder.
TEST(ShellFoldersTest, ReadsTheDesktopAsTheUserDirsSettingsName) {
  const std::string home = "/h\xff";
  const struct {
    const char* settings;
    std::string desktop;
  } cases[] = {
      {"XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", home + "/Bureau"},
      {"XDG_DESKTOP_DIR=${HOME}", home},
      {"  XDG_DESKTOP_DIR=\"/srv/a b\"  # mine\n", "/srv/a b"},
      {"XDG_DESKTOP_DIR=\"$HOME/\\\"q\\\" \\$HOME \\x\"",
       home + "/\"q\" $HOME \\x"},
      {"XDG_DESKTOP_DIR=$HOME/a\\ b'$HOME'\n", home + "/a b$HOME"},
      {"XDG_DESKTOP_DIR=\"/a\"\nXDG_DESKTOP_DIR=\"/b\"\n", "/b"},
      {"XDG_DESKTOP_DIR=\"/a\"\nXDG_DESKTOP_DIR=\"Desk\"\n", "/a"},
      {"# XDG_DESKTOP_DIR=\"/a\"\nXDG_DESKTOP_DIRS=\"/b\"\n", ""},
      {"XDG_DESKTOP_DIR=\"$HOMEDIR/D\"\nXDG_DESKTOP_DIR=\"$(pwd)\"\n", ""},
      {"XDG_DESKTOP_DIR=\"$HOME/D\nXDG_DESKTOP_DIR=/a ls\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DesktopFromUserDirs(c.settings, home).native(), c.desktop)
        << c.settings;
  }
}

// The settings are found where xdg-user-dir looks for them, a relative
// XDG_CONFIG_HOME ignored; ~/Desktop when there is no file to read there
// (a FIFO is not waited on).
TEST(ShellFoldersTest, FindsTheUserDirsSettings) {
  TestFolder tree;
  const fs::path home = tree.path() / "home";
  const std::string config = (tree.path() / "config").string();
  for (const fs::path& folder : {home / ".config", fs::path(config)}) {
    tree.WriteAt(folder / "user-dirs.dirs",
                 "XDG_DESKTOP_DIR=\"" + folder.string() + "\"\n");
  }
  ASSERT_EQ(::mkfifo((tree.path() / "user-dirs.dirs").c_str(), 0600), 0);
  const std::pair<std::string, fs::path> cases[] = {
      {"config", home / ".config"},
      {config, config},
      {tree.path().string(), home / "Desktop"},
  };
  const std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", home.c_str(), 1);
  ShellTools& shell = ShellTools::Instance();
  EXPECT_EQ(shell.SpecialFolderPath(ShellTools::kFavorites, 0, 0),
            home / "Favorites");
  for (const auto& [config_home, desktop] : cases) {
    ::setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
    EXPECT_EQ(shell.SpecialFolderPath(ShellTools::kDesktopDirectory, 0, 0),
              desktop)
        << config_home;
  }
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", saved_home.c_str(), 1);
}
#endif

}  // namespace
}  // namespace norvale
