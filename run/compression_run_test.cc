#include "run/compression_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "services/win/system_calls.h"
#include "testing/test_online_only_win.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "run/folder_field.h"
#include "run/run_report.h"
#include "services/file_work.h"
#include "services/folder_io.h"
#include "testing/test_folder.h"
#include "testing/test_record.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

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

// As Windows writes a shortcut whose address its code page cannot hold.
const std::string kWindowsWide =
    "[InternetShortcut]\r\nIDList=\r\nURL=http://?"
    "?/\r\n"
    "[InternetShortcut.W]\r\nURL=http://+A6gDsQ-/\r\n";

// With and without a separator typed at the end of either folder, "/" typed
// between missing folders of the destination (a separator on Windows too),
// and a "~" for the home folder. A second run replaces the first's copies,
// leaving nothing else.
TEST(CompressionRunTest, MirrorsTheTreeWithOnlyTheAddress) {
  TestFolder root;
  const Files sources = {
      {"a.url", Full("http://a/")},
      {"News/b.url", Full("http://b/")},
      {"News/Daily/c.url", Full("http://c/")},
      {"Other/b.url", "[InternetShortcut]\r\nIconFile=x\r\n"},
      {kOddName, kOddSource},
      {"notes.txt", "not a shortcut"},
      {"wide.url", kWindowsWide},
  };
  for (const auto& [name, bytes] : sources)
    root.Write(fs::u8path("Src/" + name), bytes);
  const Files expected = {
      {"a.url", Compact("http://a/")},
      {"News/b.url", Compact("http://b/")},
      {"News/Daily/c.url", Compact("http://c/")},
      {"Other/b.url", Compact("about:blank")},
      {kOddName, kOddCopy},
      // The address itself, for readers of any section, with ".A" as the
      // first so that readers who compare them take ".W".
      {"wide.url",
       "[InternetShortcut]\r\nURL=http://\xCE\xA8\xCE\xB1/\r\n"
       "[InternetShortcut.A]\r\nURL=http://\xCE\xA8\xCE\xB1/\r\n"
       "[InternetShortcut.W]\r\nURL=http://+A6gDsQ-/\r\n"},
  };
  const std::string base = root.path().u8string() + kSep;
  // Each spelling of the source, with the home folder "~" stands for.
  std::vector<std::pair<std::string, fs::path>> spellings = {
      {base + "Src", ""}, {base + "Src" + kSep, ""}};
#ifndef _WIN32
  const char* home = std::getenv("HOME");
  const std::string saved_home = home != nullptr ? home : "";
  spellings.push_back({"~/Src", root.path()});
  spellings.push_back({"~", root.path() / "Src"});
  // A linked Favorites folder is the folder it leads to.
  fs::create_directory_symlink("Src", root.path() / "SrcLink");
  spellings.push_back({base + "SrcLink", ""});
#endif
  for (const auto& [source, home_folder] : spellings) {
#ifndef _WIN32
    if (!home_folder.empty()) ::setenv("HOME", home_folder.c_str(), 1);
#endif
    for (const std::string& end : {std::string(), kSep}) {
      const fs::path out = fs::u8path(source + "/../Out/Fav" + end);
      for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(CompressionRun(fs::u8path(source), out).Run(), 6u) << source;
        EXPECT_EQ(Tree(root.path() / "Out/Fav"), expected) << source << end;
      }
      fs::remove_all(root.path() / "Out");
    }
  }
#ifndef _WIN32
  ::setenv("HOME", saved_home.c_str(), 1);
#endif
  EXPECT_EQ(Tree(root.path() / "Src").size(), sources.size());
  EXPECT_EQ(ReadBytes(root.path() / "Src/a.url"), Full("http://a/"));
  // A destination inside the source, reached through a link or not, holds
  // copies, which are never searched as sources: running again changes
  // nothing.
  const fs::path inside = root.path() / "Src/Out";
  std::vector<fs::path> insides = {inside};
#ifndef _WIN32
  insides.push_back(root.path() / "SrcLink/Out");
#endif
  for (const fs::path& dest : insides) {
    for (int pass = 0; pass < 2; ++pass)
      EXPECT_EQ(CompressionRun(root.path() / "Src", dest).Run(), 6u) << dest;
    EXPECT_EQ(Tree(inside), expected);
    fs::remove_all(inside);
  }
}

// Folders as people paste them: the quotes around them dropped (Explorer's
// "Copy as path", a shell's quoting); on Windows trailing dots and blanks
// trimmed as Windows trims a path it is given, so that no folder is made
// that Explorer cannot open. Names inside the tree are never trimmed.
TEST(CompressionRunTest, TakesFoldersAsPeoplePasteThem) {
  const std::pair<const char*, const char*> cases[] = {
#ifdef _WIN32
      {"\"C:\\My Favs\"", "C:\\My Favs"},
      {" 'C:\\a' \r\n", "C:\\a"},
      {"C:\\Copies ", "C:\\Copies"},
      {"\"C:\\Copies. . \"", "C:\\Copies"},
      {"C:\\a.\\b..\\c", "C:\\a\\b..\\c"},
      {"C:\\Copies \\", "C:\\Copies \\"},
      {"\\\\srv\\share.", "\\\\srv\\share"},
      // "." and ".." first, as Windows resolves them, then the trimming.
      {"C:\\Backup\\Favs\\..", "C:\\Backup"},
      {"C:\\Src\\News\\..\\", "C:\\Src\\"},
      {"C:\\a\\.\\b. ", "C:\\a\\b"},
      {"C:\\..\\..\\x", "C:\\x"},
      {"\\\\srv\\share\\..\\Favs", "\\\\srv\\share\\Favs"},
#else
      {"\"/home/me/My Favs\"", "/home/me/My Favs"},
      {" '/a' \n", "/a"},
      {"/Copies. ", "/Copies. "},
#endif
  };
  for (const auto& [typed, folder] : cases)
    EXPECT_EQ(FolderFromField(fs::u8path(typed), "source"), fs::u8path(folder));
  EXPECT_NE(ErrorOf([] {
              FolderFromField("\"Out\"", "source");
            }).find("must be a full path, not \"Out\""),
            std::string::npos);
}

TEST(CompressionRunTest, CopiesDeepTrees) {
  // Deeper than the 260 characters of Windows' file functions.
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "folder" + std::to_string(i) + "/";
  TestFolder source, dest;
  // Then again, replacing the copy.
  for (const std::string url : {"http://deep/", "http://deeper/"}) {
    source.Write(deep + "deep.url", Full(url));
    EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 1u);
    EXPECT_EQ(ReadBytes(dest.path() / deep / "deep.url"), Compact(url));
  }
}

// Every failure names its path and how many were written before it; nothing
// is undone, and nothing is written before the folders are known to be good.
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
  const fs::path kept = root.Write(NativePath("Kept/e.url"), Full("e"));
  const Files sources = Tree(src);
  // The source itself as destination: spelled otherwise on Windows; through
  // a link to it, or to one of its shortcuts, elsewhere.
  const fs::path src_a = src / "a.url";
#ifdef _WIN32
  std::string other = src.u8string();
  for (char& c : other)
    c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
  const fs::path src_again = fs::u8path(other);
  const fs::path holder = src;
#else
  const fs::path src_again = root.path() / "Link", holder = root.path() / "In";
  fs::create_directory_symlink("Src", src_again);
  fs::create_directory(holder);
  fs::create_symlink(src_a, holder / "a.url");
  // Two shortcuts that lead to one copy, through a destination folder that
  // is a link to another.
  const fs::path twins = root.path() / "Twins",
                 twins_out = root.path() / "TwinsOut";
  root.Write("Twins/A/x.url", Full("http://a/"));
  root.Write("Twins/B/x.url", Full("http://b/"));
  fs::create_directories(twins_out / "A");
  fs::create_directory_symlink("A", twins_out / "B");
  const std::string one_copy =
      "TwinsOut/B/x.url\": The copy of \"" + (twins / "A/x.url").string();
#endif
  const std::string none = "No shortcut was written.";
  const struct {
    fs::path source, dest;
    std::string named, written;
    bool look_only = false;
  } cases[] = {
      {"", out, "source", none},
      {missing, out, missing.u8string(), none},
      {last, out, last.u8string(), none},
      {src, "", "destination", none},
      {src, root.path() / "Blocked", "\"" + in_the_way.u8string() + "\"",
       "1 of 3 shortcuts were written before this."},
      // Run again, the copy written is up to date, and none is written.
      {src, root.path() / "Blocked", "\"" + in_the_way.u8string() + "\"",
       "No copy was written before this; 1 of 3 was up to date already."},
      {root.path() / "Compressed", root.path() / "Favorites",
       full.u8string() + "\": It holds more than a compact copy", none},
      // A run that only looks fails where it would, having written nothing.
      {src, root.path() / "Kept", kept.u8string() + "\": It holds more",
       "Nothing was changed.", true},
      {src, src, src_a.u8string() + "\": It is one of the source", none},
      {src, src_again, src_again.u8string() + kSep + "a.url\"", none},
      {src, holder, (holder / "a.url").u8string() + "\"", none},
      // A path that is not full would land wherever Norvale was started.
      {"Src", out, "The source must be a full path, not \"Src\"", none},
      {src, "Out", "The destination must be a full path, not \"Out\"", none},
#ifdef _WIN32
      {src, "C:Out", "must be a full path", none},
      // Typed with a separator at its end, which messages do not repeat.
      {src, fs::u8path(other + "\\"), other + "\\a.url\"", none},
      {src, "\\Out", "must be a full path", none},
#else
      {src, "~user/Out", "must be a full path", none},
      // Run again, each copy meets an existing file; still only one is
      // written.
      {twins, twins_out, one_copy,
       "1 of 2 shortcuts were written before this."},
      {twins, twins_out, one_copy,
       "No copy was written before this; 1 of 2 was up to date already."},
#endif
  };
  // Relative paths are tried from a scratch working folder and home, so
  // that a fault there cannot write into the build tree or the real home.
  const fs::path working = fs::current_path();
  fs::create_directory(root.path() / "Cwd");
  fs::current_path(root.path() / "Cwd");
#ifndef _WIN32
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", (root.path() / "Home").c_str(), 1);
#endif
  for (const auto& c : cases) {
    CompressionRun run(c.source, c.dest, nullptr, {.look_only = c.look_only});
    const Message told = RunAndReport(run);
    EXPECT_EQ(told.icon, Message::Icon::kError);
    EXPECT_EQ(told.title, "Norvale");
    EXPECT_NE(told.text.find(c.named), std::string::npos) << told.text;
    EXPECT_EQ(told.text.substr(told.text.find("\n\n") + 2), c.written);
  }
  EXPECT_EQ(Tree(src), sources);
#ifndef _WIN32
  EXPECT_EQ(Tree(twins_out), (Files{{"A/x.url", Compact("http://a/")}}));
#endif
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(Tree(root.path() / "Cwd").size() + fs::exists(root.path() / "Home"),
            0u);
  fs::current_path(working);
#ifndef _WIN32
  ::setenv("HOME", home.c_str(), 1);
#endif
  EXPECT_EQ(ReadBytes(full), Full("a"));
  EXPECT_EQ(Tree(root.path() / "Blocked"),
            (Files{{"a.url", Compact("http://a/")}, {"b", "a file"}}));
}

#ifdef _WIN32
// Names that differ only in letter case lead to one file on Windows, and
// must not both count with one copy left. Only a folder made outside
// Windows holds two such names; ctest makes one when these run under Wine.
TEST(CompressionRunTest, NeverWritesOneCopyTwice) {
  const char* tree = std::getenv("NORVALE_CASE_TREE");
  if (tree == nullptr) GTEST_SKIP() << "needs a folder Windows cannot make";
  const fs::path source = fs::u8path(tree) / "Src";
  TestFolder dest;
  // Into a folder that exists, and into one the run makes, where copies are
  // written without looking first. Run again, each copy meets an existing
  // file; still only one is written.
  for (const fs::path& out : {dest.path(), dest.path() / "Made"}) {
    for (int pass = 0; pass < 2; ++pass) {
      CompressionRun run(source, out);
      const std::string message = ErrorOf([&] { run.Run(); });
      // Sorted, A.url comes first.
      EXPECT_NE(message.find((out / "a.url").u8string() + "\": The copy of \"" +
                             (source / "A.url").u8string()),
                std::string::npos)
          << message;
      EXPECT_EQ(run.done(), 1u);
      EXPECT_EQ(Tree(out), (Files{{"A.url", Compact("http://b/")}}));
    }
  }
}

// Trees copied from Linux or macOS hold names that Windows, given a path
// without the "\\?\" prefix, reads as devices or trims. Each is copied
// under its own name, and no device is opened.
TEST(CompressionRunTest, CopiesNamesWindowsWouldReadAsDevices) {
  TestFolder root;
  const std::wstring top =
      L"\\\\?\\" + root.path().native();  // Names as they are.
  const std::wstring names[] = {L"nul.url", L"com1.url", L"AUX.url",
                                L"Dots.\\a.url", L"Blank \\b.url"};
  std::error_code ec;
  for (const wchar_t* folder : {L"\\Src", L"\\Src\\Dots.", L"\\Src\\Blank "})
    MakeFolder(top + folder, ec);
  FileWork work;
  for (const std::wstring& name : names)
    work.WriteNewFile(top + L"\\Src\\" + name, Full("http://a/"));
  EXPECT_EQ(CompressionRun(root.path() / "Src", root.path() / "Out").Run(), 5u);
  for (const wchar_t* tree : {L"\\Out\\", L"\\Src\\"}) {
    for (const std::wstring& name : names) {
      if (tree[1] == L'O') {
        EXPECT_EQ(work.ReadWholeFile(top + tree + name), Compact("http://a/"));
      }
      ::DeleteFileW((top + tree + name).c_str());  // Before TestFolder can.
    }
    for (const wchar_t* folder : {L"Dots.", L"Blank "})
      ::RemoveDirectoryW((top + tree + folder).c_str());
  }
}

// How a volume answers: as Wine does, as NTFS does, as ReFS does (two files
// share a 64-bit number), with numbers 0, or as FAT does (numbers that
// change, and no FILE_SUPPORTS_OPEN_BY_FILE_ID).
enum class Volume { kWine, kNtfs, kRefs, kZero, kFat } g_volume;

uint64_t NumberOn(uint64_t number) {
  static uint64_t changes = 0;
  return g_volume == Volume::kRefs ? 7
         : g_volume == Volume::kZero
             ? 0
             : number + (g_volume == Volume::kFat) * (++changes << 32);
}

// Whatever numbers a volume gives, a run tells every file from the others:
// an update run replaces what changed; the destination inside the source,
// typed otherwise, is never searched; a source reached through the
// destination typed otherwise is never written, not even an empty one.
TEST(CompressionRunTest, TellsFilesApartOnEveryVolume) {
  SystemCalls& calls = Calls();
  calls.get_volume_info = [](HANDLE, wchar_t* name, DWORD size, DWORD* flags) {
    *flags = g_volume == Volume::kFat ? 0 : FILE_SUPPORTS_OPEN_BY_FILE_ID;
    ::lstrcpynW(name, g_volume == Volume::kRefs ? L"ReFS" : L"NTFS", size);
    return TRUE;
  };
  calls.get_file_number = [](HANDLE file, uint64_t* number) {
    const BOOL got = SystemCalls().get_file_number(file, number);
    *number = NumberOn(*number);
    return got;
  };
  // The 128-bit number: the 64-bit one, and on ReFS the file's own above.
  calls.get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                           void* info, DWORD size) {
    const BOOL got = SystemCalls().get_file_info(file, what, info, size);
    BYTE* bytes = static_cast<FileIdInfo*>(info)->FileId;
    uint64_t id[2];
    if (what == kFileIdInfo && std::memcpy(id, bytes, 16)) {
      id[1] = g_volume == Volume::kRefs ? id[0] : 0;
      id[0] = NumberOn(id[0]);
      std::memcpy(bytes, id, 16);
    }
    return got;
  };
  for (const Volume volume : {Volume::kNtfs, Volume::kRefs, Volume::kZero,
                              Volume::kFat, Volume::kWine}) {
    g_volume = volume;
    if (volume == Volume::kWine) calls = SystemCalls();
    TestFolder root;
    const fs::path src = root.path() / "Src", out = root.path() / "Out";
    for (const char* name : {"0.url", "F/a.url", "b.url", "c.url"})
      root.Write(fs::path("Src") / name, *name == '0' ? "" : Full(name));
    EXPECT_EQ(CompressionRun(src, out).Run(), 4u);
    root.Write("Src/c.url", Full("http://c2/"));
    EXPECT_EQ(ErrorOf([&] { CompressionRun(src, out).Run(); }), "");
    EXPECT_EQ(ReadBytes(out / "c.url"), Compact("http://c2/"));
    for (int pass = 0; pass < 2; ++pass)
      EXPECT_EQ(CompressionRun(src, root.path() / "src/Out").Run(), 4u);
    const std::string message =
        ErrorOf([&] { CompressionRun(src, root.path() / "SRC").Run(); });
    EXPECT_NE(message.find("0.url\": It is one of the source"),
              std::string::npos)
        << static_cast<int>(volume) << message;
    EXPECT_EQ(ReadBytes(src / "0.url"), "");
  }
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
  bool Compressing(size_t done, size_t total) override {
    last_report = {done, total};
    return done < stop_done;
  }
  void Flushing() override {}
  size_t stop_looked_at, stop_done, last_looked_at = 0;
  std::pair<size_t, size_t> last_report = {9999, 9999};
};

// The search tells of every entry it looks at, so a tree of many files and
// no shortcut can be stopped too. The user is told how far it got, never
// "Finished" for a run that was stopped.
TEST(CompressionRunTest, WritesOnlyAsFarAsTheObserverLetsIt) {
  const std::string looking =
      "Cancelled while looking for shortcuts. No shortcut was written.";
  const struct {
    int shortcuts, others;
    size_t stop_looked_at, stop_done, looked_at;
    std::string title, text;
    bool look_only = false;
  } cases[] = {
      {5, 1, 3, 9, 3, "Norvale", looking},
      {0, 200, 50, 9, 50, "Norvale", looking},
      {5, 1, 99, 2, 6, "Norvale", "Cancelled. 2 of 5 shortcuts were written."},
      // A run that only looks never says it wrote.
      {5, 1, 3, 9, 3, "Norvale",
       "Cancelled while looking for shortcuts. Nothing was changed.", true},
      {5, 1, 99, 2, 6, "Norvale", "Cancelled. Nothing was changed.", true},
      {1, 1, 99, 9, 2, "Finished",
       "Compressed 1 favorites.\n\n1 copy written, 0 up to date already."},
      {3, 0, 99, 9, 3, "Finished",
       "Compressed 3 favorites.\n\n3 copies written, 0 up to date already."},
      // Nothing found: not even the folder is made.
      {0, 1, 99, 9, 1, "Finished",
       "Compressed 0 favorites.\n\n0 copies written, 0 up to date already."},
  };
  for (const auto& c : cases) {
    TestFolder source, dest;
    for (int i = 0; i < c.others; ++i)
      source.Write(std::to_string(i) + ".txt", "");
    for (int i = 0; i < c.shortcuts; ++i)
      source.Write(std::to_string(i) + ".url", "");
    StopAt observer(c.stop_looked_at, c.stop_done);
    CompressionRun run(source.path(), dest.path() / "Out", &observer,
                       {.look_only = c.look_only});
    EXPECT_EQ(RunAndReport(run),
              (Message{Message::Icon::kInformation, c.title, c.text}));
    EXPECT_EQ(observer.last_looked_at, c.looked_at);
    // A run that went through every shortcut shows them all done last.
    if (c.title == "Finished") {
      EXPECT_EQ(observer.last_report, std::make_pair(run.total(), run.total()));
    }
    if (fs::exists(dest.path() / "Out")) {
      EXPECT_EQ(Tree(dest.path()).size(), run.done());
      EXPECT_GT(run.done(), 0u);
    }
  }
}

// Copies whose shortcuts are gone are removed only after a run that wrote
// or checked every copy, only when the destination's record names them as
// Norvale's, and never where copies and sources mix: --delete refuses a
// destination that is the source, lies inside it or holds it. A run that
// only looks changes nothing.
TEST(CompressionRunTest, RemovesStaleCopiesOnlyAfterAWholeRunOutsideTheSource) {
  const struct {
    const char *source, *dest;
    bool look_only, stop, blocked, record;
    std::vector<std::string> removed;
  } cases[] = {
      {"Fav", "Out", false, false, false, true, {"Out/Old/gone.url"}},
      {"Fav", "Out", false, false, false, false, {}},
      {"Fav", "Out", true, false, false, true, {}},
      {"Fav", "Out", false, true, false, true, {}},
      {"Fav", "Out", false, false, true, true, {}},
      {"Fav", "", false, false, false, true, {}},
      {"Fav", "Fav", false, false, false, true, {}},
      {"Fav/In", "Fav", false, false, false, true, {}},
      {"Fav", "Fav/In", false, false, false, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.dest +
                 (c.record ? "" : " without a record"));
    TestFolder root;
    root.Write("Fav/a.url", Full("http://a/"));
    root.Write("Fav/c.url", Compact("http://c/"));
    root.Write("Fav/In/gone.url", Compact("http://g/"));
    root.Write("Out/Old/gone.url", Compact("http://g/"));
    root.Write("old.url", Compact("http://o/"));
    if (c.record) {
      // As if every compact file had been written by Norvale.
      const std::map<std::string, std::string> all = {
          {"Old/gone.url", Compact("http://g/")},
          {"old.url", Compact("http://o/")},
          {"c.url", Compact("http://c/")},
          {"In/gone.url", Compact("http://g/")},
          {"Fav/c.url", Compact("http://c/")}};
      const fs::path dest = root.path() / c.dest;
      PlantRecord(dest, root.path() / c.source, all, {"Old", "In"});
    }
    // A killed run's temporary file, which only a run that writes removes.
#ifdef _WIN32
    const std::string leftover = "Out/.norvale-1-2.tmp";
#else
    const std::string leftover = "Out/~NV0A1B2.TMP";
#endif
    fs::last_write_time(
        root.Write(leftover, ""),
        fs::file_time_type::clock::now() - std::chrono::hours(48));
    // A folder where a copy goes stops the run.
    if (c.blocked) fs::create_directories(root.path() / "Out/c.url");
    const Files before = Tree(root.path());
    StopAt stop(99, c.stop ? 1 : 99);
    CompressionRun run(root.path() / c.source, root.path() / c.dest, &stop,
                       {.remove_stale = true, .look_only = c.look_only});
    const Message told = RunAndReport(run);
    Files expected = before;
    for (const std::string& name : c.removed) expected.erase(name);
    Files after = Tree(root.path());
    if (c.look_only) {
      EXPECT_EQ(after, before);
    }
    after.erase(leftover);
    expected.erase(leftover);
    // Copies written are all that is new.
    for (auto at = after.begin(); at != after.end();) {
      at = before.count(at->first) == 0 && at->second.size() < 64
               ? after.erase(at)
               : std::next(at);
    }
    if (c.look_only) {
      EXPECT_EQ(run.stale(), 1u);
      EXPECT_EQ(run.removed(), 1u);
    }
    if (!c.record && !c.blocked) {
      EXPECT_EQ(run.unrecorded(), 1u);
      EXPECT_NE(told.text.find("had no record"), std::string::npos)
          << told.text;
    }
    EXPECT_EQ(after, expected);
    EXPECT_EQ(fs::exists(root.path() / "Out/Old"),
              c.removed.empty() || c.removed[0] != "Out/Old/gone.url");
  }
}

// One run at a time writes to a destination, however it is spelled: a
// second one stops before it writes anything, saying why.
TEST(CompressionRunTest, OneRunAtATimeWritesToADestination) {
  TestFolder root;
  root.Write("Src/a.url", Full("http://a/"));
  fs::create_directories(root.path() / "Out");
  FileWork first;
  ASSERT_TRUE(first.LockDestination(root.path() / "Out" / "."));
  // From another thread, as another program would: a lock is its holder's.
  CompressionRun second(root.path() / "Src", root.path() / "Out");
  const Message told = std::async(std::launch::async, [&] {
                         return RunAndReport(second);
                       }).get();
  EXPECT_NE(told.text.find("Another Norvale run is writing to it"),
            std::string::npos)
      << told.text;
  EXPECT_FALSE(fs::exists(root.path() / "Out" / "a.url"));
}

// Stops the removals after `removals` copies were removed, and keeps what
// a run tells of each copy, a line each as --verbose prints them.
struct StopRemoving : RunObserver {
  explicit StopRemoving(size_t removals) : removals(removals) {}
  bool Searching(size_t, size_t) override { return true; }
  bool Compressing(size_t done, size_t total) override {
    return done < total || removed < removals;
  }
  void Flushing() override {}
  void Changed(Change change, const fs::path& relative) override {
    if (change == Change::kRemoved) ++removed;
    told += "\n";
    told += "+~-!?"[static_cast<int>(change)];
    told += " " + relative.generic_u8string();
  }
  size_t removals, removed = 0;
  std::string told;
};

// Does `step` below `root`: "rm P", "dir P", "copy P" and "full P" (a
// compact copy or a full shortcut of "http://<P's stem>/"), "edit P" (a full
// shortcut of another address), "link TARGET P", "ro P", "cut P BYTES",
// "record COPY... +FOLDER..." (the destination's record, as a run from Src
// would keep it, without stamps), "bind FROM P" and "rodisk P" (P mounted
// read-only onto itself), on Windows "online P" (as OneDrive leaves it) and
// "moved P" (as a storage manager does); "run SOURCE DEST [delete] [all]
// [look] [stop]" (with "look", a dry run first, which must say what the run
// says; with "stop", Ctrl+C at the first removal), then "said TEXT" (of the
// outcome, "[warning]" for its icon, and a line for each copy as --verbose
// prints it), "has P", "gone P", "holds P STEM" (a compact copy of
// "http://STEM/") and "fetched P..." (the files online only read, or opened
// so that they would be fetched) check it.
// Returns false where a mount needs root.
bool Step(const fs::path& root, const std::string& step,
          [[maybe_unused]] std::vector<fs::path>& mounts, std::string& told) {
  std::vector<std::string> words;
  for (size_t at = 0, end; at < step.size(); at = end + 1) {
    end = std::min(step.find(' ', at), step.size());
    words.push_back(step.substr(at, end - at));
  }
  const std::string& verb = words[0];
  const fs::path path = root / words.back();
  const std::string url = "http://" + path.stem().string() + "/";
  const auto has = [&](const char* word) {
    return std::find(words.begin(), words.end(), word) != words.end();
  };
  if (verb == "rm") fs::remove_all(path);
  if (verb == "dir") fs::create_directories(path);
  if (verb == "copy") TestFolder::WriteAt(path, Compact(url));
  if (verb == "full") TestFolder::WriteAt(path, Full(url));
  if (verb == "edit") TestFolder::WriteAt(path, Full("http://edited/"));
  if (verb == "ro") fs::permissions(path, fs::perms::owner_read);
  if (verb == "cut") fs::resize_file(root / words[1], std::stoul(words[2]));
  if (verb == "has" || verb == "gone") {
    EXPECT_EQ(fs::exists(fs::symlink_status(path)), verb == "has") << step;
  }
  if (verb == "said") {
    EXPECT_NE(told.find(step.substr(5)), std::string::npos) << told;
  }
  if (verb == "holds") {
    EXPECT_EQ(ReadBytes(root / words[1]), Compact("http://" + words[2] + "/"));
  }
#ifdef _WIN32
  if (verb == "online" || verb == "moved") {
    online_only::Mark(
        fs::u8path(words[1]).native(),
        verb == "online" ? online_only::kOneDrive : online_only::kMovedAway);
  }
  if (verb == "fetched") {
    std::vector<std::wstring> expected,
        fetched = online_only::TheCloud().fetched;
    for (size_t i = 1; i < words.size(); ++i)
      expected.push_back(fs::u8path(words[i]).make_preferred().native());
    std::sort(fetched.begin(), fetched.end());
    fetched.erase(std::unique(fetched.begin(), fetched.end()), fetched.end());
    EXPECT_EQ(fetched, expected) << step;
  }
#else
  if (verb == "link") fs::create_symlink(words[1], path);
#endif
  if (verb == "record") {
    std::map<std::string, std::string> copies;
    std::vector<std::string> folders;
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string stem = fs::path(words[i]).stem().string();
      if (words[i][0] == '+') folders.push_back(words[i].substr(1));
      if (words[i][0] != '+')
        copies[words[i]] = Compact("http://" + stem + "/");
    }
    PlantRecord(root / "Out", root / "Src", copies, folders);
  }
#ifndef _WIN32
  if (verb == "bind" || verb == "rodisk") {
    const std::string from = (verb == "bind" ? root / words[1] : path).string(),
                      to = path.string();
    const std::string ro = " && mount -o remount,ro,bind " + to;
    if (::geteuid() != 0 || std::system(("mount --bind " + from + " " + to +
                                         (verb == "rodisk" ? ro : ""))
                                            .c_str()) != 0) {
      return false;
    }
    mounts.push_back(path);
  }
#endif
  if (verb == "run") {
    std::string said[2];
    for (const bool look : {true, false}) {
      if (look && !has("look")) continue;
      StopRemoving stop(has("stop") ? 0 : 99);
      CompressionRun run(root / words[1], root / words[2], &stop,
                         {.remove_stale = has("delete"),
                          .look_only = look,
                          .remove_all = has("all")});
      const Message message = RunAndReport(run);
      const bool failed = message.icon == Message::Icon::kError;
      told = message.text + stop.told +
             (message.icon == Message::Icon::kWarning ? "\n[warning]" : "");
      // What a run tells of its copies, or where it failed.
      said[look] = (failed ? told.substr(0, told.find('\n')) : "") + stop.told +
                   std::to_string(static_cast<int>(message.icon));
    }
    if (has("look")) {
      EXPECT_EQ(said[true], said[false]);
    }
  }
  return true;
}

// --delete removes only what Norvale can prove it wrote: never a file a
// source links to, a user's file or folder, a copy on another disk or one
// of a source that looks unmounted, nor by a damaged record or one of
// another source; no run writes into its own source; Ctrl+C stops it
// between two copies, and what it did not look at stays Norvale's. A dry
// run fails where the run would, saying the same. A file online only is
// never fetched nor removed; replaced only where the record's stamp proves
// it Norvale's copy, else left and told of; a source online only is read.
TEST(CompressionRunTest, RemovesOnlyWhatTheRecordProvesNorvaleWrote) {
  // Each after a first run from Src, holding a.b.url and Sub/c.url, to Out.
  const std::vector<std::string> cases[] = {
#ifdef _WIN32
      {"online Out/a.b.url", "edit Src/Sub/c.url", "online Out/Sub/c.url",
       "full Src/New/d.url", "copy Out/Old/x.url", "online Out/Old/x.url",
       "run Src Out look", "said [warning]", "said ~ Sub/c.url",
       "said + New/d.url", "said ? Old/x.url",
       "said 2 copies written, 1 up to date already. 1 copy could not be "
       "checked: it is online only",
       "said choose \"Always keep on this device\"",
       "holds Out/Sub/c.url edited", "has Out/Old/x.url", "fetched"},
      // Rewritten since Norvale wrote it.
      {"copy Out/a.b.url", "online Out/a.b.url", "run Src Out",
       "said ? a.b.url", "said 1 up to date already. 1 copy could not",
       "holds Out/a.b.url a.b", "fetched"},
      // The record itself is read, or nothing would prove anything.
      {"rm Src/Sub", "online Out/Sub/c.url", "copy Out/x.url",
       "online Out/x.url", "online Out/.norvale-copies",
       "run Src Out delete look", "said ? Sub/c.url", "said ? x.url",
       "said [warning]", "has Out/Sub/c.url", "has Out/x.url",
       "fetched Out/.norvale-copies"},
      {"edit Src/a.b.url", "online Src/a.b.url", "copy Out/y.url",
       "moved Out/y.url", "run Src Out", "said ~ a.b.url", "said ? y.url",
       "fetched Src/a.b.url"},
#else
      {"rm Src/a.b.url", "link ../Out/a.b.url Src/Linked.URL",
       "run Src Out delete", "said Compressed 2 favorites", "has Out/a.b.url",
       "has Out/Linked.URL", "has Out/Sub/c.url"},
      {"rm Src/Sub", "dir Out/Mine", "copy Out/Yours/c.url",
       "copy Out/Saved.url", "record Sub/c.url Yours/c.url +Sub",
       "run Src Out delete", "said Compressed 1 favorites", "has Out/Mine",
       "has Out/Yours", "has Out/Saved.url", "gone Out/Sub",
       "gone Out/Yours/c.url"},
      // The home folder as the destination.
      {"copy Downloads/dragged.url", "run Src . delete",
       "said It holds the source folder", "has Downloads/dragged.url",
       "gone a.b.url"},
      {"rm Src", "dir Src", "run Src Out delete",
       "said holds no shortcut, as a disk that is not mounted looks",
       "has Out/a.b.url", "run Src Out delete all",
       "said Compressed 0 favorites", "gone Out/a.b.url", "gone Out/Sub"},
      {"copy Src/Src/c.url", "run Src .", "said is a source folder",
       "has Src/Src/c.url", "gone Src/c.url"},
      {"rm Src/Sub", "run Src Out delete stop", "said Cancelled. 0 of 1",
       "has Out/Sub/c.url", "run Src Out delete", "gone Out/Sub"},
      // Norvale writes no read-only copy, so it removes none.
      {"rm Src/Sub", "ro Out/Sub/c.url", "run Src Out delete",
       "has Out/Sub/c.url"},
      {"full Other/a.b.url", "run Other Out delete",
       "said the destination's record is of another source folder",
       "has Out/Sub/c.url"},
      {"rm Src/Sub", "cut Out/.norvale-copies 40", "run Src Out delete",
       "said record of the copies it wrote there cannot be read whole",
       "has Out/Sub/c.url"},
      // The same bytes at the recorded place, on a disk mounted there.
      {"rm Src/Sub", "rm Out/Sub/c.url", "copy Elsewhere/c.url",
       "bind Elsewhere Out/Sub", "run Src Out delete", "has Elsewhere/c.url"},
      {"edit Src/a.b.url", "ro Out/a.b.url", "run Src Out delete look",
       "said a.b.url\": It is read-only"},
      {"rm Out/Sub", "copy Out/Sub", "run Src Out delete look",
       "said A file of that name is in the way"},
      {"full Src/Twin/c.url", "link Sub Out/Twin", "run Src Out delete look",
       "said two shortcuts cannot share one copy"},
      {"rm Src/Sub", "rodisk Out", "run Src Out delete look",
       "said Sub/c.url\": Its disk is mounted read-only", "has Out/Sub/c.url"},
#endif
  };
  bool skipped = false;
  for (const auto& steps : cases) {
    SCOPED_TRACE(steps[1]);
#ifdef _WIN32
    online_only::Scoped cloud;
#endif
    TestFolder root;
    root.Write("Src/a.b.url", Full("http://a/"));
    root.Write("Src/Sub/c.url", Full("http://c/"));
    CompressionRun(root.path() / "Src", root.path() / "Out").Run();
    std::vector<fs::path> mounts;
    std::string told;
    for (const std::string& step : steps) {
      if (!Step(root.path(), step, mounts, told)) {
        skipped = true;
        break;
      }
    }
    for (auto at = mounts.rbegin(); at != mounts.rend(); ++at) {
      std::system(("umount " + at->string()).c_str());
    }
  }
  if (skipped) GTEST_SKIP() << "a mount needs root";
}

#ifndef _WIN32
// A copy is never more open than its source less the umask, whichever
// changed last: a source made private makes its up-to-date copy private
// too, which counts as no write, and a replaced copy likewise. A copy the
// user made more private stays so, every copy stays the user's to update,
// also of a read-only source, a run that only looks changes nothing, and a
// source met as its own copy is never changed.
TEST(CompressionRunTest, CopiesAreNeverMoreOpenThanTheirSources) {
  const mode_t umask = ::umask(022);
  const struct {
    mode_t source, copy, source_now;  // copy: as the user made it, or 0.
    bool change, look_only, into_source;
    mode_t expected;
    size_t written;
  } cases[] = {
      {0644, 0, 0600, false, false, false, 0600, 0},
      {0644, 0, 0640, true, false, false, 0640, 1},
      {0644, 0, 0600, false, true, false, 0644, 0},
      {0644, 0600, 0644, true, false, false, 0600, 1},
      {0664, 0666, 0664, false, false, false, 0644, 0},
      {0444, 0, 0444, false, false, false, 0644, 0},
      {0644, 0, 0400, false, false, false, 0600, 0},
      {0666, 0, 0666, false, false, true, 0666, 0},
  };
  for (const auto& c : cases) {
    TestFolder root;
    const fs::path source = root.Write("Src/a.url", Compact("http://a/"));
    const fs::path out = root.path() / (c.into_source ? "Src" : "Out");
    fs::permissions(source, static_cast<fs::perms>(c.source));
    CompressionRun(root.path() / "Src", out).Run();
    if (c.copy != 0) fs::permissions(out / "a.url", fs::perms(c.copy));
    if (c.change) root.Write("Src/a.url", Compact("http://b/"));
    fs::permissions(source, static_cast<fs::perms>(c.source_now));
    CompressionRun run(root.path() / "Src", out, nullptr,
                       {.look_only = c.look_only});
    run.Run();
    struct stat st {};
    ::stat((out / "a.url").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, c.expected) << std::oct << c.source_now;
    EXPECT_EQ(run.written(), c.written) << std::oct << c.source_now;
  }
  ::umask(umask);
}
#endif  // _WIN32

}  // namespace
}  // namespace norvale
