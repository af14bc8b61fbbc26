#include "services/shell_tools.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

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
      {"ab", "a?", true},
      {"a", "a?", false},
      {"aXbXc", "a*b*c", true},
      {"aXbXd", "a*b*c", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPattern(fs::u8path(c.name).native(), c.pattern), c.matches)
        << c.name << " ~ " << c.pattern;
  }
}

// Sorted, at every depth, each path beginning with the folder's text as
// passed, with or without a separator at its end; folders named like
// shortcuts, links to folders and pipes are never taken.
TEST(FindFilesTest, ListsShortcutsBelowTheFolderText) {
  TestFolder tree;
  tree.Write("b.url", "");
  tree.Write("A.URL", "");
  tree.Write("notes.txt", "");
  tree.Write("News/Daily/c.url", "");
  fs::create_directories(tree.path() / "folder.url");
  std::vector<std::string> links;
#ifndef _WIN32
  TestFolder outside;
  outside.Write("far.url", "");
  fs::create_symlink(tree.path() / "b.url", tree.path() / "link.url");
  fs::create_symlink(tree.path() / "missing", tree.path() / "dangling.url");
  fs::create_directory_symlink(outside.path(), tree.path() / "away");
  fs::create_directory_symlink(tree.path(), tree.path() / "loop");
  ASSERT_EQ(::mkfifo((tree.path() / "pipe.url").c_str(), 0600), 0);
  links.push_back("link.url");
#endif
  const std::string root = tree.path().u8string();
  const std::string sep = NativePath("/").u8string();
  for (const std::string& text : {root, root + sep}) {
    const std::string below = text + (text == root ? sep : "");
    std::vector<std::string> expected = {
        below + "A.URL", below + NativePath("News/Daily/c.url").u8string(),
        below + "b.url"};
    for (const std::string& link : links) expected.push_back(below + link);
    EXPECT_EQ(Texts(ShellTools::Instance().FindFiles(fs::u8path(text), "*.url",
                                                     true)),
              expected);
  }
  EXPECT_EQ(ShellTools::Instance().FindFiles(root, "*.url", false).count(),
            2u + links.size());
}

}  // namespace
}  // namespace norvale
