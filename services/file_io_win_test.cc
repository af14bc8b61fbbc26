// Tests of the Windows file primitives where Windows answers otherwise than
// Wine: SystemCalls is given Windows' answers, and each test says which
// Windows behaviour it stands for.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "services/file_io.h"
#include "services/file_tools.h"
#include "services/ini_format.h"
#include "services/system_calls_win.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

const std::string kCompact = "[InternetShortcut]\r\nURL=http://old/\r\n";

// Puts the system's own calls back when a test ends.
struct FakeCalls {
  ~FakeCalls() { Calls() = SystemCalls(); }
};

// What the faked calls answer.
DWORD g_tag = 0;  // The reparse tag every file carries, or 0.
int g_held = 0;   // How many more opens and renames fail as held.
DWORD g_held_error = ERROR_SHARING_VIOLATION;

// Writes http://new/ where `target` is and returns the error, or "".
std::string WriteNew(const fs::path& target) {
  return ErrorOf([&] {
    FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                        IniText::Bytes("http://new/"),
                                        PathList());
  });
}

// OneDrive's Desktop: once synced, every copy is a reparse point tagged as a
// cloud file, also when fully downloaded; deduplicated and compressed files
// are reparse points too. Only symbolic links and junctions are links.
TEST(FileIoWinTest, OnlySymbolicLinksAndJunctionsAreLinks) {
  FakeCalls fake;
  Calls().get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
    const BOOL got = SystemCalls().get_file_info(file, what, info, size);
    if (got && what == FileAttributeTagInfo) {
      static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |=
          FILE_ATTRIBUTE_REPARSE_POINT;
      static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->ReparseTag = g_tag;
    }
    return got;
  };
  const std::pair<DWORD, bool> tags[] = {
      {IO_REPARSE_TAG_CLOUD_3, false}, {IO_REPARSE_TAG_CLOUD, false},
      {IO_REPARSE_TAG_WOF, false},     {IO_REPARSE_TAG_DEDUP, false},
      {IO_REPARSE_TAG_SYMLINK, true},  {IO_REPARSE_TAG_MOUNT_POINT, true},
  };
  for (const auto& [tag, link] : tags) {
    SCOPED_TRACE(tag);
    g_tag = tag;
    TestFolder root;
    const fs::path target = root.Write("a.url", kCompact);
    const std::string message = WriteNew(target);
    EXPECT_EQ(message.find("It is a link") != std::string::npos, link)
        << message;
    EXPECT_EQ(ReadBytes(target),
              link ? kCompact : "[InternetShortcut]\r\nURL=http://new/\r\n");
  }
}

// A USB stick's root as destination: making E:\ again answers access
// denied on Windows (Wine says it exists). A folder there is written into;
// only a file is in the way.
TEST(FileIoWinTest, AFolderThatExistsIsWrittenIntoWhateverMakingItSaid) {
  FakeCalls fake;
  Calls().create_directory = [](const wchar_t*) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  TestFolder root;
  const fs::path file = root.Write("file", "");
  EXPECT_EQ(ErrorOf([&] { FileTools::Instance().CreateFolder(root.path()); }),
            "");
  EXPECT_NE(ErrorOf([&] {
              FileTools::Instance().CreateFolder(file);
            }).find("A file of that name is in the way"),
            std::string::npos);
}

// Defender, the search indexer and OneDrive open each new file for a
// moment; an open or rename meanwhile fails with a sharing violation or
// access denied. Both are waited out for about a second, then reported.
TEST(FileIoWinTest, WaitsOutAFileHeldForAMoment) {
  FakeCalls fake;
  Calls().create_file = [](const wchar_t* path, DWORD access, DWORD share,
                           DWORD disposition, DWORD flags) {
    if (disposition == OPEN_EXISTING && (access & GENERIC_READ) != 0 &&
        g_held > 0) {
      --g_held;
      ::SetLastError(g_held_error);
      return INVALID_HANDLE_VALUE;
    }
    return SystemCalls().create_file(path, access, share, disposition, flags);
  };
  Calls().set_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
    if (what == FileRenameInfo && g_held > 0) {
      --g_held;
      ::SetLastError(g_held_error);
      return FALSE;
    }
    return SystemCalls().set_file_info(file, what, info, size);
  };
  const struct {
    const char* before;  // What stands at the copy's place, if anything.
    DWORD error;
    int held;
    bool read;  // Whether the shortcut is read, rather than written.
  } cases[] = {
      {nullptr, ERROR_SHARING_VIOLATION, 3, false},
      {"", ERROR_ACCESS_DENIED, 4, false},
      {kCompact.c_str(), ERROR_SHARING_VIOLATION, 4, true},
      {nullptr, ERROR_ACCESS_DENIED, 1000, false},
      {kCompact.c_str(), ERROR_SHARING_VIOLATION, 1000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.held);
    TestFolder root;
    const fs::path target = root.path() / "a.url";
    if (c.before != nullptr) root.Write("a.url", c.before);
    g_held = c.held;
    g_held_error = c.error;
    const std::string message = c.read ? ErrorOf([&] {
      FileTools::Instance().ReadIniValue(target, "InternetShortcut", "URL", "",
                                         0);
    })
                                       : WriteNew(target);
    const bool gave_up = c.held == 1000;
    EXPECT_EQ(message.find(target.u8string()) != std::string::npos, gave_up)
        << message;
    if (!c.read) {
      EXPECT_EQ(ReadBytes(target),
                gave_up ? (c.before != nullptr ? c.before : "<missing>")
                        : "[InternetShortcut]\r\nURL=http://new/\r\n");
    }
    g_held = 0;
  }
}

// ReFS (Windows Server, Dev Drive) gives two files one 64-bit file index;
// only the 128-bit identity tells them apart.
TEST(FileIoWinTest, TellsFilesApartByTheir128BitIdentity) {
  FakeCalls fake;
  Calls().get_file_index = [](HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    const BOOL got = SystemCalls().get_file_index(file, info);
    info->nFileIndexHigh = 0;
    info->nFileIndexLow = 7;
    return got;
  };
  Calls().get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
    const BOOL got = SystemCalls().get_file_info(file, what, info, size);
    if (got && what == kFileIdInfo) {
      // The file's own number moves to the upper half.
      BYTE* id = static_cast<FileIdInfo*>(info)->FileId;
      std::memcpy(id + 8, id, 8);
      std::memset(id, 0, 8);
      id[0] = 7;
    }
    return got;
  };
  TestFolder root;
  const fs::path a = root.Write("a.url", ""), b = root.Write("b.url", "");
  ASSERT_TRUE(IdentifyFile(a) && IdentifyFile(b));
  EXPECT_FALSE(*IdentifyFile(a) == *IdentifyFile(b));
  EXPECT_TRUE(*IdentifyFile(a) == *IdentifyFile(root.path() / "x/../A.URL"));
}

// A leading dot hides nothing on Windows: the temporary file a copy is
// written under is hidden while it exists, and the copy is not.
TEST(FileIoWinTest, HidesTemporaryFilesOnly) {
  FakeCalls fake;
  static DWORD temporary_attributes;
  temporary_attributes = 0;
  Calls().set_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
    FILE_BASIC_INFO basic;
    if (what == FileBasicInfo && temporary_attributes == 0 &&
        SystemCalls().get_file_info(file, FileBasicInfo, &basic,
                                    sizeof(basic))) {
      temporary_attributes = basic.FileAttributes;
    }
    return SystemCalls().set_file_info(file, what, info, size);
  };
  TestFolder root;
  const fs::path target = root.path() / "a.url";
  for (const bool replace : {false, true}) {
    if (replace) root.Write("a.url", kCompact);
    temporary_attributes = 0;
    EXPECT_EQ(WriteNew(target), "");
    EXPECT_NE(temporary_attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << replace;
    EXPECT_EQ(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  }
}

// A run killed half-way leaves its temporary file behind; the next run that
// writes to the folder removes it, and nothing else: not one made since the
// run began, nor another name, nor a folder.
TEST(FileIoWinTest, RemovesLeftoversOfAnEarlierRun) {
  TestFolder root;
  const fs::path leftover = root.Write(".norvale-1-1.tmp", "x");
  const HANDLE file = ::CreateFileW(leftover.c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME hour_ago;
  ::GetSystemTimeAsFileTime(&hour_ago);
  reinterpret_cast<ULARGE_INTEGER&>(hour_ago).QuadPart -= 36000000000ull;
  ::SetFileTime(file, nullptr, nullptr, &hour_ago);
  ::CloseHandle(file);
  const fs::path others[] = {root.Write("norvale-1-2.tmp", ""),
                             root.Write(".norvale-1-3.tmpx", ""),
                             root.path() / ".norvale-1-4.tmp"};
  fs::create_directory(others[2]);
  BeginFileWork();
  const fs::path made_since = root.Write(".norvale-1-5.tmp", "");
  EXPECT_EQ(WriteNew(root.path() / "a.url"), "");
  EXPECT_FALSE(fs::exists(leftover));
  for (const fs::path& other : {others[0], others[1], others[2], made_since}) {
    EXPECT_TRUE(fs::exists(other)) << other;
  }
}

}  // namespace
}  // namespace norvale
