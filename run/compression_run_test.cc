#include "run/compression_run.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cctype>
#include <map>
#include <string>

#include "services/error.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

std::string Compact(const std::string& url) {
  return "[InternetShortcut]\r\nURL=" + url + "\r\n";
}

std::string Full(const std::string& url) {
  return "[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,11\r\n"
         "[InternetShortcut]\r\nIDList=\r\nURL=" +
         url + "\r\nIconIndex=1\r\nHotKey=0\r\n";
}

// The platform's separator, as the user would type it.
const std::string kSep = NativePath("/").u8string();

// Every file below `root`, by its path relative to it with "/" between the
// names, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).generic_u8string()] =
          ReadBytes(entry.path());
    }
  }
  return files;
}

// Returns the Error message of a run, "" when it succeeds.
std::string Failure(CompressionRun& run) {
  try {
    run.Run();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(CompressionRunTest, MirrorsTheTreeWithOnlyTheAddress) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  source.Write("News/b.url", Full("http://b/"));
  source.Write("News/Daily/c.url", Full("http://c/"));
  source.Write("Other/b.url", "[InternetShortcut]\r\nIconFile=x\r\n");
  source.Write("notes.txt", "not a shortcut");
  source.Write("Empty/readme.txt", "");
  const auto before = Tree(source.path());
  const std::map<std::string, std::string> expected = {
      {"a.url", Compact("http://a/")},
      {"News/b.url", Compact("http://b/")},
      {"News/Daily/c.url", Compact("http://c/")},
      {"Other/b.url", Compact("about:blank")},
  };
  // With and without a separator typed at the end of either folder.
  const std::string from = source.path().u8string();
  for (const std::string& s : {from, from + kSep}) {
    for (const std::string& d_suffix : {std::string(), kSep}) {
      TestFolder dest;
      const fs::path out = dest.path() / "Out";
      CompressionRun run(fs::u8path(s), fs::u8path(out.u8string() + d_suffix));
      EXPECT_EQ(run.Run(), 4u);
      EXPECT_EQ(run.done(), 4u);
      EXPECT_EQ(Tree(out), expected) << s << " -> " << out << d_suffix;
    }
  }
  EXPECT_EQ(Tree(source.path()), before);
}

TEST(CompressionRunTest, FindingNothingWritesNothing) {
  TestFolder source;
  source.Write("notes.txt", "x");
  TestFolder dest;
  CompressionRun run(source.path(), dest.path() / "Out");
  EXPECT_EQ(run.Run(), 0u);
  EXPECT_FALSE(fs::exists(dest.path() / "Out"));
  EXPECT_EQ(FinishedMessage(0), "Compressed 0 favorites.");
  EXPECT_EQ(FinishedMessage(1), "Compressed 1 favorites.");
  EXPECT_EQ(FinishedMessage(100000), "Compressed 100000 favorites.");
}

TEST(CompressionRunTest, RunningTwiceWritesTheSameCopies) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  source.Write("x/b.url", Full("\" spaced \""));
  TestFolder dest;
  CompressionRun(source.path(), dest.path()).Run();
  const auto first = Tree(dest.path());
  CompressionRun(source.path(), dest.path()).Run();
  EXPECT_EQ(Tree(dest.path()), first);
  EXPECT_EQ(first.at("x/b.url"), Compact("\" spaced \""));
}

TEST(CompressionRunTest, RefusesBadFoldersBeforeWritingAnything) {
  TestFolder root;
  root.Write("file.url", Full("http://a/"));
  const fs::path out = root.path() / "Out";
  const struct {
    fs::path source, dest;
    std::string named;
  } cases[] = {
      {"", out, "source"},
      {root.path() / "missing", out, (root.path() / "missing").u8string()},
      {root.path() / "file.url", out, (root.path() / "file.url").u8string()},
      {root.path(), "", "destination"},
  };
  for (const auto& c : cases) {
    CompressionRun run(c.source, c.dest);
    EXPECT_NE(Failure(run).find(c.named), std::string::npos) << c.named;
    EXPECT_EQ(run.done(), 0u);
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST(CompressionRunTest, StopsAtTheFirstFailureKeepingWhatWasWritten) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  source.Write("b/c.url", Full("http://c/"));
  source.Write("d.url", Full("http://d/"));
  TestFolder dest;
  dest.Write("b", "a file where a folder must be");
  CompressionRun run(source.path(), dest.path());
  const std::string message = Failure(run);
  EXPECT_NE(message.find((dest.path() / "b").u8string()), std::string::npos)
      << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(run.total(), 3u);
  EXPECT_EQ(ReadBytes(dest.path() / "a.url"), Compact("http://a/"));
  EXPECT_FALSE(fs::exists(dest.path() / "d.url"));
}

TEST(CompressionRunTest, NeverChangesSourcesEvenWhenTheyAreTheDestination) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  const auto before = Tree(source.path());
  CompressionRun same(source.path(), source.path());
  EXPECT_NE(Failure(same).find("a.url"), std::string::npos);
#ifdef _WIN32
  // The same folder spelled otherwise: letter case and separators differ.
  std::string other = source.path().u8string();
  for (char& c : other)
    c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
  CompressionRun respelled(source.path(), fs::u8path(other));
  EXPECT_NE(Failure(respelled).find("a.url"), std::string::npos);
#else
  fs::create_directory_symlink(source.path(), source.path().string() + "-link");
  CompressionRun linked(source.path(), source.path().string() + "-link");
  EXPECT_NE(Failure(linked).find("a.url"), std::string::npos);
  fs::remove(source.path().string() + "-link");
#endif
  EXPECT_EQ(Tree(source.path()), before);
}

TEST(CompressionRunTest, ADestinationInsideTheSourceIsTakenUpByLaterRuns) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  const fs::path out = source.path() / "Out";
  CompressionRun first(source.path(), out);
  EXPECT_EQ(first.Run(), 1u);  // The copy made meanwhile is not listed.
  const auto after_first = Tree(source.path());
  // The next run meets its own earlier copy as a source: already compact,
  // it is left as it is and counted, and copied one level deeper.
  CompressionRun second(source.path(), out);
  EXPECT_EQ(second.Run(), 2u);
  auto expected = after_first;
  expected["Out/Out/a.url"] = Compact("http://a/");
  EXPECT_EQ(Tree(source.path()), expected);
}

#ifdef _WIN32
TEST(CompressionRunTest, CopiesNamesOutsideTheCodePageAndDeepTrees) {
  // A Unicode address, as a UTF-16 shortcut holds it.
  const std::string address = "http://\xCE\xB1.example/\xE4\xB8\xAD";
  std::string utf16 = "\xFF\xFE";
  for (wchar_t c :
       fs::u8path("[InternetShortcut]\r\nURL=" + address + "\r\n").wstring()) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  // Names no ANSI code page holds, and a folder path beyond 260
  // characters.
  const fs::path unicode = fs::u8path("\xCE\xB1\xCE\xB2/\xF0\x9F\x98\x80.url");
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "folder" + std::to_string(i) + "/";
  TestFolder source;
  source.Write(unicode, utf16);
  source.Write(deep + "deep.url", Full("http://deep/"));
  TestFolder dest;
  EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 2u);
  EXPECT_EQ(ReadBytes(dest.path() / unicode), utf16);
  EXPECT_EQ(ReadBytes(dest.path() / deep / "deep.url"),
            Compact("http://deep/"));
}

TEST(CompressionRunTest, ASourceOpenElsewhereWithoutSharingStopsTheRun) {
  TestFolder source;
  source.Write("a.url", Full("http://a/"));
  const fs::path locked = source.Write("b.url", Full("http://b/"));
  source.Write("c.url", Full("http://c/"));
  // As a program holding the file open for itself alone would.
  const HANDLE lock =
      ::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  TestFolder dest;
  CompressionRun run(source.path(), dest.path());
  const std::string message = Failure(run);
  ::CloseHandle(lock);
  EXPECT_NE(message.find(locked.u8string()), std::string::npos) << message;
  EXPECT_EQ(run.done(), 1u);
  EXPECT_EQ(
      Tree(dest.path()),
      (std::map<std::string, std::string>{{"a.url", Compact("http://a/")}}));
}
#else
TEST(CompressionRunTest, CopiesNamesAndAddressesThatAreNotUtf8) {
  TestFolder source;
  source.Write("caf\xE9/\xFF.url", Full("http://\xE9/"));
  TestFolder dest;
  EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 1u);
  EXPECT_EQ(ReadBytes(dest.path() / "caf\xE9/\xFF.url"),
            Compact("http://\xE9/"));
}
#endif

// Stops the run once `limit` shortcuts are done.
class StopAfter : public RunObserver {
 public:
  explicit StopAfter(size_t limit) : limit_(limit) {}
  bool Searching(size_t found) override { return last_found = found, true; }
  bool Compressing(size_t done, size_t) override { return done < limit_; }
  size_t last_found = 0;

 private:
  size_t limit_;
};

TEST(CompressionRunTest, AnObserverSeesProgressAndCanStop) {
  TestFolder source;
  for (int i = 0; i < 5; ++i) source.Write(std::to_string(i) + ".url", "");
  TestFolder dest;
  StopAfter observer(2);
  CompressionRun run(source.path(), dest.path(), &observer);
  EXPECT_EQ(run.Run(), 2u);
  EXPECT_TRUE(run.cancelled());
  EXPECT_EQ(observer.last_found, 5u);
  EXPECT_EQ(Tree(dest.path()).size(), 2u);
}

}  // namespace
}  // namespace norvale
