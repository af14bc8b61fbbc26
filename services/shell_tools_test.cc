#include "services/shell_tools.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "services/error.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Texts(const PathList& list) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < list.count(); ++i) texts.push_back(list[i].u8string());
  return texts;
}

TEST(MatchesPatternTest, MatchesWildcardsIgnoringAsciiCase) {
  struct {
    const char* name;
    const char* pattern;
    bool matches;
  } const cases[] = {
      {"a.url", "*.url", true},
      {"A.URL", "*.url", true},
      {".url", "*.url", true},
      {"a.b.url", "*.url", true},
      {"x.urlx", "*.url", false},
      {"url", "*.url", false},
      {"a.ur", "*.url", false},
      {"a.url.txt", "*.url", false},
      {"\xC3\xA9.Url", "*.url", true},
      {"ab", "a?", true},
      {"a", "a?", false},
      {"abc", "*", true},
      {"", "*", true},
      {"aXbXc", "a*b*c", true},
      {"aXbXd", "a*b*c", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPattern(fs::u8path(c.name).native(), c.pattern), c.matches)
        << c.name << " ~ " << c.pattern;
  }
}

TEST(FindFilesTest, ListsShortcutsAtEveryDepthSortedBelowTheFolderText) {
  TestFolder tree;
  tree.Write("b.url", "");
  tree.Write("A.URL", "");
  tree.Write("notes.txt", "");
  tree.Write("x.urlx", "");
  tree.Write("News/Daily/c.url", "");
  tree.Write("Empty/readme.txt", "");
  fs::create_directories(tree.path() / "folder.url");  // A folder, not a file.
  const std::string root = tree.path().u8string();
  const std::string sep = NativePath("/").u8string();
  for (const std::string& text : {root, root + sep}) {
    const std::string below = text == root ? sep : "";
    const PathList list =
        ShellTools::Instance().FindFiles(fs::u8path(text), "*.url", true);
    EXPECT_EQ(Texts(list),
              (std::vector<std::string>{
                  text + below + "A.URL",
                  text + below + NativePath("News/Daily/c.url").u8string(),
                  text + below + "b.url"}));
  }
  EXPECT_EQ(ShellTools::Instance().FindFiles(root, "*.url", false).count(), 2u);
  EXPECT_EQ(ShellTools::Instance().FindFiles(root, "*.none", true).count(), 0u);
}

#ifndef _WIN32
TEST(FindFilesTest, ListsLinksToFilesButNeverFollowsFolderLinksOrOpensPipes) {
  TestFolder tree;
  TestFolder outside;
  outside.Write("far.url", "");
  tree.Write("real.url", "");
  fs::create_symlink(tree.path() / "real.url", tree.path() / "link.url");
  fs::create_symlink(tree.path() / "missing", tree.path() / "dangling.url");
  fs::create_directory_symlink(outside.path(), tree.path() / "away");
  fs::create_directory_symlink(tree.path(), tree.path() / "loop");
  ASSERT_EQ(::mkfifo((tree.path() / "pipe.url").c_str(), 0600), 0);
  const PathList list =
      ShellTools::Instance().FindFiles(tree.path(), "*.url", true);
  EXPECT_EQ(Texts(list),
            (std::vector<std::string>{(tree.path() / "link.url").string(),
                                      (tree.path() / "real.url").string()}));
}

TEST(FindFilesTest, KeepsNamesThatAreNotUtf8) {
  TestFolder tree;
  tree.Write("caf\xE9/\xFF.url", "");
  const PathList list =
      ShellTools::Instance().FindFiles(tree.path(), "*.url", true);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list[0].string(), (tree.path() / "caf\xE9/\xFF.url").string());
}

#endif  // _WIN32

TEST(FindFilesTest, KeepsNamesOutsideAnyCodePage) {
  // Greek, Chinese, and a character beyond the 16-bit range.
  const std::string folder = "\u03b1\u03b2\u4e2d";
  const std::string name = "\U0001F600\u00e9.url";
  TestFolder tree;
  tree.Write(fs::u8path(folder + "/" + name), "");
  const PathList list =
      ShellTools::Instance().FindFiles(tree.path(), "*.url", true);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list[0], tree.path() / fs::u8path(folder) / fs::u8path(name));
}

TEST(FindFilesTest, FailsNamingAFolderItCannotRead) {
  TestFolder tree;
  tree.Write("file.url", "");
  const fs::path missing = tree.path() / "missing";
  const fs::path file = tree.path() / "file.url";
  for (const fs::path& folder : {missing, file, fs::path()}) {
    try {
      ShellTools::Instance().FindFiles(folder, "*.url", true);
      ADD_FAILURE() << "no error for " << folder;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(folder.u8string()),
                std::string::npos)
          << e.what();
    }
  }
}

#ifndef _WIN32
TEST(FindFilesTest, FailsNamingAnUnreadableFolderBelow) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TestFolder tree;
  tree.Write("locked/a.url", "");
  fs::permissions(tree.path() / "locked", fs::perms::none);
  try {
    ShellTools::Instance().FindFiles(tree.path(), "*.url", true);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("locked"), std::string::npos);
  }
  fs::permissions(tree.path() / "locked", fs::perms::owner_all);
}
#endif  // _WIN32

TEST(FindFilesTest, StopsWhenTheCallbackSaysSo) {
  TestFolder tree;
  for (int i = 0; i < 5; ++i) tree.Write(std::to_string(i) + ".url", "");
  size_t calls = 0;
  EXPECT_THROW(ShellTools::Instance().FindFiles(
                   tree.path(), "*.url", true,
                   [&](size_t found) { return ++calls, found < 3; }),
               SearchCancelled);
  EXPECT_EQ(calls, 3u);
}

TEST(RelativeFolderTest, StripsLeadingAndEndsInOneSeparator) {
  ShellTools& shell = ShellTools::Instance();
  // "/" stands for the platform's separator.
  const struct {
    const char* folder;
    const char* relative;
  } cases[] = {
      {"/News", "News/"}, {"/News/Daily", "News/Daily/"},
      {"News/", "News/"}, {"/", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shell.RelativeFolder(NativePath(c.folder)),
              NativePath(c.relative))
        << c.folder;
  }
}

#ifdef _WIN32
TEST(SpecialFolderPathTest, AsksTheShellForFavoritesAndTheDesktop) {
  ShellTools& shell = ShellTools::Instance();
  const fs::path favorites = shell.SpecialFolderPath(6, 0, 0);
  const fs::path desktop = shell.SpecialFolderPath(16, 0, 0);
  EXPECT_TRUE(favorites.is_absolute()) << favorites;
  EXPECT_TRUE(desktop.is_absolute()) << desktop;
  EXPECT_EQ(favorites.filename(), fs::path("Favorites"));
  EXPECT_EQ(desktop.filename(), fs::path("Desktop"));
  EXPECT_THROW(shell.SpecialFolderPath(7, 0, 0), Error);
  EXPECT_THROW(shell.SpecialFolderPath(6, 1, 0), Error);
}
#else
// Sets an environment variable for the length of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SpecialFolderPathTest, FindsFavoritesAndTheDesktopBelowHome) {
  TestFolder home;
  ScopedEnv set_home("HOME", home.path().string());
  ScopedEnv set_config("XDG_CONFIG_HOME", (home.path() / "config").string());
  ShellTools& shell = ShellTools::Instance();
  EXPECT_EQ(shell.SpecialFolderPath(6, 0, 0), home.path() / "Favorites");
  EXPECT_EQ(shell.SpecialFolderPath(16, 0, 0), home.path() / "Desktop");

  home.Write("config/user-dirs.dirs",
             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(shell.SpecialFolderPath(16, 0, 0), home.path() / "Schreibtisch");

  EXPECT_THROW(shell.SpecialFolderPath(7, 0, 0), Error);
  EXPECT_THROW(shell.SpecialFolderPath(6, 1, 0), Error);
}

TEST(SpecialFolderPathTest, KeepsAHomeThatIsNotUtf8) {
  TestFolder parent;
  const fs::path home = parent.path() / "h\xFF";
  fs::create_directory(home);
  ScopedEnv set_home("HOME", home.string());
  ScopedEnv set_config("XDG_CONFIG_HOME", (home / "config").string());
  EXPECT_EQ(ShellTools::Instance().SpecialFolderPath(6, 0, 0).string(),
            (home / "Favorites").string());
  EXPECT_EQ(ShellTools::Instance().SpecialFolderPath(16, 0, 0).string(),
            (home / "Desktop").string());
}
#endif  // _WIN32

}  // namespace
}  // namespace norvale
