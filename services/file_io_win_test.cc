// Tests of the Windows file primitives where Windows answers otherwise than
// Wine: the fixture's SystemCalls give Windows' answers, as each test says.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "services/file_io.h"
#include "services/file_tools.h"
#include "services/system_calls_win.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

const std::string kOld = "[InternetShortcut]\r\nURL=http://old/\r\n";
const std::string kNew = "[InternetShortcut]\r\nURL=http://new/\r\n";

// What Windows answers here: the reparse tag of every file, how many more
// opens and renames fail as held and with what, whether making a folder
// that exists is denied (as for E:\), whether 64-bit file numbers collide
// (as on ReFS), and the attributes a temporary file had.
DWORD g_tag, g_held_error, g_temporary_attributes;
int g_held_opens, g_held_renames;
bool g_root, g_refs;

class FileIoWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tag = g_held_opens = g_held_renames = g_temporary_attributes = 0;
    g_root = g_refs = false;
    SystemCalls& calls = Calls();
    calls.create_file = [](const wchar_t* path, DWORD access, DWORD share,
                           DWORD disposition, DWORD flags) {
      if ((access & GENERIC_READ) != 0 && g_held_opens > 0 && g_held_opens--) {
        ::SetLastError(g_held_error);
        return INVALID_HANDLE_VALUE;
      }
      return SystemCalls().create_file(path, access, share, disposition, flags);
    };
    calls.create_directory = [](const wchar_t* path) {
      if (!g_root) return SystemCalls().create_directory(path);
      ::SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    };
    calls.get_file_index = [](HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
      const BOOL got = SystemCalls().get_file_index(file, info);
      if (g_refs) info->nFileIndexHigh = info->nFileIndexLow = 7;
      return got;
    };
    calls.get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
      const BOOL got = SystemCalls().get_file_info(file, what, info, size);
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
      if (got && what == FileAttributeTagInfo && g_tag != 0) {
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = g_tag;
      }
      BYTE* id = static_cast<FileIdInfo*>(info)->FileId;
      if (got && what == kFileIdInfo && g_refs) {
        // The file's own number in the upper half only.
        std::memcpy(id + 8, id, 8);
        std::memset(id, 7, 8);
      }
      return got;
    };
    calls.set_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
      FILE_BASIC_INFO basic;
      if (what == FileBasicInfo &&
          SystemCalls().get_file_info(file, FileBasicInfo, &basic,
                                      sizeof(basic))) {
        g_temporary_attributes = basic.FileAttributes;
      }
      if (what == FileRenameInfo && g_held_renames > 0 && g_held_renames--) {
        ::SetLastError(g_held_error);
        return FALSE;
      }
      return SystemCalls().set_file_info(file, what, info, size);
    };
  }
  void TearDown() override { Calls() = SystemCalls(); }

  // Writes http://new/ at `target` and returns the error, or "".
  static std::string WriteNew(const fs::path& target) {
    return ErrorOf([&] {
      FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                          IniText::Bytes("http://new/"),
                                          PathList());
    });
  }

  TestFolder root;
};

// OneDrive's Desktop: once synced, every copy is a reparse point tagged as a
// cloud file, also when fully downloaded; deduplicated and compressed files
// are reparse points too. Only symbolic links and junctions are links.
TEST_F(FileIoWinTest, OnlySymbolicLinksAndJunctionsAreLinks) {
  for (const DWORD tag : {IO_REPARSE_TAG_CLOUD_3, IO_REPARSE_TAG_CLOUD,
                          IO_REPARSE_TAG_WOF, IO_REPARSE_TAG_DEDUP,
                          IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT}) {
    const bool link =
        tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
    g_tag = tag;
    const fs::path target = root.Write(std::to_string(tag) + ".url", kOld);
    EXPECT_EQ(WriteNew(target).find("It is a link") != std::string::npos, link)
        << tag;
    EXPECT_EQ(ReadBytes(target), link ? kOld : kNew) << tag;
  }
}

// Defender, the search indexer and OneDrive open each new file for a
// moment, and an open or rename meanwhile fails with a sharing violation or
// access denied: waited out for about a second, then reported. And a USB
// stick's root, which Windows says it cannot make again (Wine that it
// exists), is a folder to write into; only a file is in the way.
TEST_F(FileIoWinTest, WaitsOutHeldFilesAndWritesIntoADriveRoot) {
  // A copy held for a moment, when it is opened and renamed over; and a new
  // one held for good.
  root.Write("a.url", kOld);
  for (const bool for_good : {false, true}) {
    const fs::path target = root.path() / (for_good ? "b.url" : "a.url");
    g_held_error = for_good ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION;
    g_held_opens = for_good ? 0 : 3;
    g_held_renames = for_good ? 1000 : 3;
    const std::string message = WriteNew(target);
    EXPECT_EQ(message.find(target.u8string()) != std::string::npos, for_good)
        << message;
    EXPECT_EQ(ReadBytes(target), for_good ? "<missing>" : kNew);
  }
  g_held_renames = 0;
  g_root = true;
  FileTools& files = FileTools::Instance();
  EXPECT_EQ(ErrorOf([&] { files.CreateFolder(root.path()); }), "");
  EXPECT_NE(ErrorOf([&] {
              files.CreateFolder(root.Write("file", ""));
            }).find("A file of that name is in the way"),
            std::string::npos);
}

// ReFS (Windows Server, Dev Drive) gives two files one 64-bit file number;
// only the 128-bit identity tells them apart.
TEST_F(FileIoWinTest, TellsFilesApartByTheir128BitIdentity) {
  g_refs = true;
  const fs::path a = root.Write("a.url", ""), b = root.Write("b.url", "");
  ASSERT_TRUE(IdentifyFile(a) && IdentifyFile(b));
  EXPECT_FALSE(*IdentifyFile(a) == *IdentifyFile(b));
  EXPECT_TRUE(*IdentifyFile(a) == *IdentifyFile(root.path() / "x/../A.URL"));
}

// A leading dot hides nothing on Windows: a copy's temporary file is hidden
// while it exists, the copy is not. A killed run's temporary files are
// removed by the next run that writes to the folder, and nothing else: not
// one made since that run began, nor another name, nor a folder.
TEST_F(FileIoWinTest, HidesTemporaryFilesAndRemovesLeftovers) {
  const fs::path leftover = root.Write(".norvale-1-1.tmp", "x");
  const HANDLE file = ::CreateFileW(leftover.c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  const FILETIME hour_ago = {0, 1};  // Long before any run.
  ::SetFileTime(file, nullptr, nullptr, &hour_ago);
  ::CloseHandle(file);
  fs::create_directory(root.path() / ".norvale-1-2.tmp");
  BeginFileWork();
  const fs::path kept[] = {root.Write(".norvale-1-3.tmp", ""),
                           root.Write(".norvale-1-4.tmpx", ""),
                           root.path() / ".norvale-1-2.tmp"};
  for (const std::string& before : {std::string(), kOld}) {
    if (!before.empty()) root.Write("a.url", before);
    EXPECT_EQ(WriteNew(root.path() / "a.url"), "");
    EXPECT_NE(g_temporary_attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(::GetFileAttributesW((root.path() / "a.url").c_str()) &
                  FILE_ATTRIBUTE_HIDDEN,
              0u);
  }
  EXPECT_FALSE(fs::exists(leftover));
  for (const fs::path& other : kept) EXPECT_TRUE(fs::exists(other)) << other;
}

}  // namespace
}  // namespace norvale
