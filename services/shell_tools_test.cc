#include "services/shell_tools.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
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
      {"A.URL", "*.url", true},
      {".url", "*.url", true},
      {"a.b.url", "*.url", true},
      {"url", "*.url", false},
      {"a.url.txt", "*.url", false},
      {"\xC3\xA9.Url", "*.url", true},
      // A name's own wildcard characters are characters like any other.
      {"*x.url", "*.url", true},
      {"?*.URL", "*.url", true},
      {"*", "*.url", false},
      {"ab", "a?", true},
      {"a", "a?", false},
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
  tree.Write("News/Daily/c.url", "");
  fs::create_directories(tree.path() / "folder.url");  // A folder, not a file.
  const std::string root = tree.path().u8string();
  const std::string sep = NativePath("/").u8string();
  // With and without a separator at the end of the folder's text.
  for (const std::string& text : {root, root + sep}) {
    const std::string below = text == root ? sep : "";
    EXPECT_EQ(Texts(ShellTools::Instance().FindFiles(fs::u8path(text), "*.url",
                                                     true)),
              (std::vector<std::string>{
                  text + below + "A.URL",
                  text + below + NativePath("News/Daily/c.url").u8string(),
                  text + below + "b.url"}));
  }
  EXPECT_EQ(ShellTools::Instance().FindFiles(root, "*.url", false).count(), 2u);
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
  EXPECT_EQ(Texts(ShellTools::Instance().FindFiles(tree.path(), "*.url", true)),
            (std::vector<std::string>{(tree.path() / "link.url").string(),
                                      (tree.path() / "real.url").string()}));
}
#endif  // _WIN32

TEST(RelativeFolderTest, StripsLeadingAndEndsInOneSeparator) {
  // "/" stands for the platform's separator; texts are compared, as paths
  // take "//" for "/".
  const struct {
    const char* folder;
    const char* relative;
  } cases[] = {
      {"/News/Daily", "News/Daily/"}, {"News//", "News/"}, {"/", ""}, {"", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(
        ShellTools::Instance().RelativeFolder(NativePath(c.folder)).native(),
        NativePath(c.relative).native())
        << c.folder;
  }
}

TEST(SpecialFolderPathTest, KnowsOnlyFavoritesAndTheDesktop) {
  ShellTools& shell = ShellTools::Instance();
#ifdef _WIN32
  // The window's test takes these as they are, so their names are checked.
  EXPECT_EQ(shell.SpecialFolderPath(6, 0, 0).filename(), L"Favorites");
  EXPECT_EQ(shell.SpecialFolderPath(16, 0, 0).filename(), L"Desktop");
#endif
  EXPECT_THROW(shell.SpecialFolderPath(7, 0, 0), Error);
  EXPECT_THROW(shell.SpecialFolderPath(6, 1, 0), Error);
}

#ifndef _WIN32
// Sets an environment variable for the length of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Favorites and the usual desktop below a home are checked through the
// window's defaults; the desktop the user-dirs settings move is not.
TEST(SpecialFolderPathTest, FindsTheDesktopWhereUserDirsPutIt) {
  TestFolder home;
  home.Write("config/user-dirs.dirs",
             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  ScopedEnv set_home("HOME", home.path().string());
  ScopedEnv set_config("XDG_CONFIG_HOME", (home.path() / "config").string());
  EXPECT_EQ(ShellTools::Instance().SpecialFolderPath(16, 0, 0),
            home.path() / "Schreibtisch");
}
#endif  // _WIN32

}  // namespace
}  // namespace norvale
