#include "run/compression_run.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "services/error.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::string Compact(const std::string& url) {
  return "[InternetShortcut]\r\nURL=" + url + "\r\n";
}

// A shortcut holding more than its address, and a URL in another section.
std::string Full(const std::string& url) {
  return "[A]\r\nURL=x\r\n[InternetShortcut]\r\nIDList=\r\nURL=" + url +
         "\r\nIconIndex=1\r\n";
}

// The platform's separator, as the user would type it.
const std::string kSep = NativePath("/").u8string();

#ifdef _WIN32
// A name no ANSI code page holds, for a UTF-16 shortcut whose address none
// holds either; being compact already, it is copied byte for byte.
const char kOddName[] = "\xCE\xB1\xCE\xB2/\xF0\x9F\x98\x80.url";
const std::u16string kOddText =
    u"\uFEFF[InternetShortcut]\r\nURL=http://\u03B1.example/\u4E2D\r\n";
const std::string kOddSource(reinterpret_cast<const char*>(kOddText.data()),
                             2 * kOddText.size());  // Little-endian.
const std::string kOddCopy = kOddSource;
#else
// A name and an address that are not valid UTF-8.
const char kOddName[] = "caf\xE9/\xFF.url";
const std::string kOddSource = Full("http://\xE9/");
const std::string kOddCopy = Compact("http://\xE9/");
#endif

// Files by their path below a folder, with "/" between the names, with
// their bytes.
using Files = std::map<std::string, std::string>;

Files Tree(const fs::path& root) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).generic_u8string()] =
          ReadBytes(entry.path());
    }
  }
  return files;
}

TEST(CompressionRunTest, MirrorsTheTreeWithOnlyTheAddress) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  source.Write("News/b.url", Full("http://b/"));
  source.Write("News/Daily/c.url", Full("http://c/"));
  source.Write("Other/b.url", "[InternetShortcut]\r\nIconFile=x\r\n");
  source.Write(fs::u8path(kOddName), kOddSource);
  source.Write("notes.txt", "not a shortcut");
  const auto before = Tree(source.path());
  const Files expected = {
      {"Out/Fav/a.url", Compact("http://a/")},
      {"Out/Fav/News/b.url", Compact("http://b/")},
      {"Out/Fav/News/Daily/c.url", Compact("http://c/")},
      {"Out/Fav/Other/b.url", Compact("about:blank")},
      {std::string("Out/Fav/") + kOddName, kOddCopy},
  };
  // With and without a separator typed at the end of either folder, and "/"
  // typed between missing folders of the destination, which Windows takes as
  // a separator too.
  const std::string from = source.path().u8string();
  for (const std::string& s : {from, from + kSep}) {
    for (const std::string& d_suffix : {std::string(), kSep}) {
      TestFolder dest;
      const fs::path out =
          fs::u8path(dest.path().u8string() + "/Out/Fav" + d_suffix);
      // The second run replaces the first's copies, leaving nothing else.
      for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(FinishedMessage(CompressionRun(fs::u8path(s), out).Run()),
                  "Compressed 5 favorites.");
        EXPECT_EQ(Tree(dest.path()), expected) << s << " -> " << out;
      }
    }
  }
  EXPECT_EQ(Tree(source.path()), before);
  EXPECT_EQ(FinishedMessage(1), "Compressed 1 favorites.");  // Never singular.
}

TEST(CompressionRunTest, CopiesDeepTrees) {
  // Deeper than the 260 characters of Windows' file functions.
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "folder" + std::to_string(i) + "/";
  TestFolder source;
  source.Write(deep + "deep.url", Full("http://deep/"));
  TestFolder dest;
  EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 1u);
  EXPECT_EQ(ReadBytes(dest.path() / deep / "deep.url"),
            Compact("http://deep/"));
}

// Every failure names its path; nothing is undone, and nothing is written
// before the folders are known to be good.
TEST(CompressionRunTest, StopsAtTheFirstFailureKeepingWhatWasWritten) {
  TestFolder root;
  const fs::path src = root.path() / "Src", out = root.path() / "Out",
                 missing = root.path() / "missing";
  root.Write("Src/a.url", Full("http://a/"));
  root.Write("Src/b/c/d.url", Full("http://d/"));
  const fs::path last = root.Write(NativePath("Src/e.url"), Full("http://e/"));
  // A file in the way of a folder higher up is the one named.
  const fs::path in_the_way = root.Write(NativePath("Blocked/b"), "a file");
  // The two fields swapped: the user's full shortcuts stand where the
  // copies would go.
  root.Write("Compressed/a.url", Compact("http://a/"));
  const fs::path full = root.Write(NativePath("Favorites/a.url"), Full("a"));
#ifdef _WIN32
  // As a program holding the file open for itself alone would.
  const HANDLE lock =
      ::CreateFileW(last.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
#endif
  const struct {
    fs::path source, dest;
    std::string named;
    size_t done, total;
  } cases[] = {
      {"", out, "source", 0, 0},
      {missing, out, missing.u8string(), 0, 0},
      {last, out, last.u8string(), 0, 0},
      {src, "", "destination", 0, 0},
      {src, root.path() / "Blocked", "\"" + in_the_way.u8string() + "\"", 1, 3},
      {root.path() / "Compressed", root.path() / "Favorites",
       full.u8string() + "\": It holds more than a compact copy", 0, 1},
      // A path that is not full would land wherever Norvale was started.
      {"Src", out, "The source must be a full path, not \"Src\"", 0, 0},
      {src, "Out", "The destination must be a full path, not \"Out\"", 0, 0},
#ifdef _WIN32
      {src, "C:Out", "must be a full path", 0, 0},
      {src, "\\Out", "must be a full path", 0, 0},
#else
      {src, "~user/Out", "must be a full path", 0, 0},
#endif
#ifdef _WIN32
      {src, root.path() / "Locked", "\"" + last.u8string() + "\"", 2, 3},
#endif
  };
  for (const auto& c : cases) {
    CompressionRun run(c.source, c.dest);
    const std::string message = ErrorOf([&] { run.Run(); });
    EXPECT_NE(message.find(c.named), std::string::npos) << message;
    EXPECT_EQ(run.done(), c.done) << message;
    EXPECT_EQ(run.total(), c.total) << message;
  }
#ifdef _WIN32
  ::CloseHandle(lock);
  EXPECT_EQ(Tree(root.path() / "Locked"),
            (Files{{"a.url", Compact("http://a/")},
                   {"b/c/d.url", Compact("http://d/")}}));
#endif
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists("Out"));
  EXPECT_EQ(ReadBytes(full), Full("a"));
  EXPECT_EQ(Tree(root.path() / "Blocked"),
            (Files{{"a.url", Compact("http://a/")}, {"b", "a file"}}));
}

TEST(CompressionRunTest, NeverChangesSourcesEvenWhenTheyAreTheDestination) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  auto expected = Tree(source.path());
  std::vector<std::string> dests = {source.path().u8string()};
#ifdef _WIN32
  // The same folder spelled otherwise, in letter case and separators.
  std::string other = source.path().u8string();
  for (char& c : other)
    c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
  dests.push_back(other);
#else
  // A link to the folder, and a folder holding a link to the shortcut.
  TestFolder elsewhere;
  fs::create_directory_symlink(source.path(), elsewhere.path() / "link");
  fs::create_directory(elsewhere.path() / "holder");
  fs::create_symlink(source.path() / "a.url",
                     elsewhere.path() / "holder/a.url");
  dests.push_back((elsewhere.path() / "link").string());
  dests.push_back((elsewhere.path() / "holder").string());
#endif
  for (const std::string& dest : dests) {
    CompressionRun run(source.path(), fs::u8path(dest));
    const std::string message = ErrorOf([&] { run.Run(); });
    EXPECT_NE(message.find(dest + kSep + "a.url"), std::string::npos)
        << message;
  }
  EXPECT_EQ(Tree(source.path()), expected);

  // A destination inside the source: the copy made meanwhile is not listed,
  // but the next run meets it as a source. Already compact, it is left as it
  // is and counted, and copied one level deeper.
  const fs::path out = source.path() / "Out";
  EXPECT_EQ(CompressionRun(source.path(), out).Run(), 1u);
  EXPECT_EQ(CompressionRun(source.path(), out).Run(), 2u);
  expected["Out/a.url"] = expected["Out/Out/a.url"] = Compact("http://a/");
  EXPECT_EQ(Tree(source.path()), expected);
}

#ifndef _WIN32
TEST(CompressionRunTest, TakesATildeForTheHomeFolder) {
  TestFolder home;
  home.Write("Src/a.url", Full("http://a/"));
  home.Write("Src/b/c.url", Full("http://c/"));
  const char* saved = std::getenv("HOME");
  const std::string old_home = saved != nullptr ? saved : "";
  ::setenv("HOME", home.path().c_str(), 1);
  EXPECT_EQ(CompressionRun("~/Src", "~").Run(), 2u);
  ::setenv("HOME", old_home.c_str(), 1);
  EXPECT_EQ(ReadBytes(home.path() / "b/c.url"), Compact("http://c/"));
}

// Two shortcuts that lead to one file, here through a destination folder
// that is a link to another, must not both count with one copy left.
TEST(CompressionRunTest, NeverWritesOneCopyTwice) {
  TestFolder source;
  const fs::path first = source.Write("A/x.url", Full("http://a/"));
  source.Write("B/x.url", Full("http://b/"));
  TestFolder dest;
  fs::create_directory(dest.path() / "A");
  fs::create_directory_symlink("A", dest.path() / "B");
  CompressionRun run(source.path(), dest.path());
  const std::string message = ErrorOf([&] { run.Run(); });
  EXPECT_NE(message.find("\"" + (dest.path() / "B/x.url").string() + "\""),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("\"" + first.string() + "\""), std::string::npos)
      << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(ReadBytes(dest.path() / "A/x.url"), Compact("http://a/"));

  // Run again, each copy meets an existing file; still only one is written.
  CompressionRun again(source.path(), dest.path());
  EXPECT_NE(ErrorOf([&] { again.Run(); }).find(first.string()),
            std::string::npos);
  EXPECT_EQ(again.done(), 1u);
}
#endif  // _WIN32

#ifdef _WIN32
// Names that differ only in letter case lead to one file on Windows. Only a
// folder made outside Windows holds two such names; ctest makes one when
// these tests run under Wine.
TEST(CompressionRunTest, NeverWritesOneCopyTwiceForNamesDifferingInCase) {
  const char* tree = std::getenv("NORVALE_CASE_TREE");
  if (tree == nullptr) GTEST_SKIP() << "needs a folder Windows cannot make";
  const fs::path source = fs::u8path(tree) / "Src";
  TestFolder dest;
  CompressionRun run(source, dest.path());
  const std::string message = ErrorOf([&] { run.Run(); });
  // The two, sorted, are A.url and a.url.
  EXPECT_NE(message.find((source / "A.url").u8string()), std::string::npos)
      << message;
  EXPECT_NE(message.find((dest.path() / "a.url").u8string()), std::string::npos)
      << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(Tree(dest.path()), (Files{{"A.url", Compact("http://b/")}}));
}
#endif  // _WIN32

// Stops the run once the search has looked at `looked_at` entries, or once
// `done` are written.
struct StopAt : RunObserver {
  StopAt(size_t looked_at, size_t done)
      : stop_looked_at(looked_at), stop_done(done) {}
  bool Searching(size_t looked_at, size_t) override {
    return (last_looked_at = looked_at) < stop_looked_at;
  }
  bool Compressing(size_t done, size_t) override { return done < stop_done; }
  void Flushing() override {}
  size_t stop_looked_at, stop_done, last_looked_at = 0;
};

// The search tells of every entry it looks at, so a tree of many files and
// no shortcut can be stopped too.
TEST(CompressionRunTest, WritesOnlyAsFarAsTheObserverLetsIt) {
  const struct {
    int shortcuts, others;
    size_t stop_looked_at, stop_done, looked_at, written;
  } cases[] = {
      {5, 1, 3, 9, 3, 0},      // Stopped while searching.
      {0, 200, 50, 9, 50, 0},  // Stopped while searching, nothing found.
      {5, 1, 99, 2, 6, 2},     // Stopped while writing: what is written stays.
      {0, 1, 99, 9, 1, 0},     // Nothing found: not even the folder is made.
  };
  for (const auto& c : cases) {
    TestFolder source;
    for (int i = 0; i < c.others; ++i) {
      source.Write(std::to_string(i) + ".txt", "");
    }
    for (int i = 0; i < c.shortcuts; ++i) {
      source.Write(std::to_string(i) + ".url", "");
    }
    TestFolder dest;
    StopAt observer(c.stop_looked_at, c.stop_done);
    CompressionRun run(source.path(), dest.path() / "Out", &observer);
    EXPECT_EQ(run.Run(), c.written) << c.shortcuts << " " << c.stop_looked_at;
    EXPECT_EQ(run.cancelled(), c.stop_looked_at < 99 || c.stop_done < 9);
    EXPECT_EQ(observer.last_looked_at, c.looked_at);
    EXPECT_EQ(Tree(dest.path()).size(), c.written);
    EXPECT_EQ(fs::exists(dest.path() / "Out"), c.written > 0);
  }
}

}  // namespace
}  // namespace norvale
