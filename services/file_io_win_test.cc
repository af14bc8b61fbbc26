// Tests of the Windows file primitives where Windows answers otherwise than
// Wine: the fixture's SystemCalls give Windows' answers, as each test says.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "services/file_io.h"
#include "services/file_tools.h"
#include "services/system_calls_win.h"
#include "services/test_folder.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

const std::string kOld = "[InternetShortcut]\r\nURL=http://old/\r\n";
const std::string kNew = "[InternetShortcut]\r\nURL=http://new/\r\n";

// Every file's reparse tag, how many more opens and renames fail as held,
// whether remaking a folder is denied, whether 64-bit file numbers collide,
// and the attributes a temporary file was created with.
DWORD g_tag, g_held_opens, g_held_renames, g_temporary_attributes;
bool g_root, g_refs;

class FileIoWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tag = g_held_opens = g_held_renames = g_temporary_attributes = 0;
    g_root = g_refs = false;
    Calls().create_file = [](const wchar_t* path, DWORD access, DWORD share,
                             DWORD disposition, DWORD flags) {
      if (disposition == CREATE_NEW) g_temporary_attributes = flags;
      if ((access & GENERIC_READ) && g_held_opens > 0 && g_held_opens--) {
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
      return SystemCalls().create_file(path, access, share, disposition, flags);
    };
    Calls().create_directory = [](const wchar_t* path) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return g_root ? FALSE : SystemCalls().create_directory(path);
    };
    Calls().get_file_index = [](HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
      const BOOL got = SystemCalls().get_file_index(file, info);
      if (g_refs) info->nFileIndexHigh = info->nFileIndexLow = 7;
      return got;
    };
    Calls().get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                               void* info, DWORD size) {
      const BOOL got = SystemCalls().get_file_info(file, what, info, size);
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
      if (what == FileAttributeTagInfo && g_tag != 0) {
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = g_tag;
      }
      BYTE* id = static_cast<FileIdInfo*>(info)->FileId;
      // The file's own number in the upper half only.
      if (what == kFileIdInfo && g_refs)
        std::memcpy(id + 8, id, 8), std::memset(id, 7, 8);
      return got;
    };
    Calls().set_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                               void* info, DWORD size) {
      if (what == FileRenameInfo && g_held_renames > 0 && g_held_renames--) {
        ::SetLastError(ERROR_ACCESS_DENIED);
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
// cloud file, also when fully downloaded; so are deduplicated and compressed
// files. Only symbolic links and junctions are links. Defender, the search
// indexer and OneDrive open each new file for a moment: an open or rename
// meanwhile fails, waited out for about a second, then reported. A USB
// stick's root, which Windows says it cannot make again (Wine: that it
// exists), is a folder to write into; only a file is in the way. ReFS gives
// two files one 64-bit number; their 128-bit ones differ.
TEST_F(FileIoWinTest, TakesFilesAndFoldersAsWindowsHasThem) {
  for (const DWORD tag :
       {IO_REPARSE_TAG_CLOUD_3, IO_REPARSE_TAG_WOF, IO_REPARSE_TAG_DEDUP,
        IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT}) {
    const bool link =
        tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
    g_tag = tag;
    const fs::path target = root.Write(std::to_string(tag) + ".url", kOld);
    EXPECT_EQ(WriteNew(target).find("It is a link") != std::string::npos, link);
    EXPECT_EQ(ReadBytes(target), link ? kOld : kNew) << tag;
  }
  g_tag = 0;
  const fs::path held = root.Write("a.url", kOld), lost = root.path() / "b";
  g_held_opens = g_held_renames = 3;
  EXPECT_EQ(WriteNew(held), "");
  g_held_renames = 1000;
  EXPECT_NE(WriteNew(lost).find(lost.u8string()), std::string::npos);
  EXPECT_EQ(ReadBytes(held) + ReadBytes(lost), kNew + "<missing>");
  g_held_renames = 0;
  g_root = g_refs = true;
  FileTools& files = FileTools::Instance();
  EXPECT_EQ(ErrorOf([&] { files.CreateFolder(root.path()); }), "");
  EXPECT_NE(ErrorOf([&] { files.CreateFolder(held); }).find("file of that"),
            std::string::npos);
  EXPECT_FALSE(*IdentifyFile(held) == *IdentifyFile(root.Write("c", "")));
  EXPECT_TRUE(*IdentifyFile(held) == *IdentifyFile(root.path() / "x/../A.URL"));
  // A leading dot hides nothing on Windows: a temporary file is hidden, the
  // copy not. A killed run's temporary files are removed by the next run
  // that writes to their folder; not one made since it began, nor another.
  const fs::path leftover = root.Write("d/.norvale-1-1.tmp", "x");
  ::Sleep(20);
  BeginFileWork();
  const fs::path kept[] = {root.Write("d/.norvale-1-2.tmp", ""),
                           root.Write("d/.norvale-1-3.tmpx", "")};
  EXPECT_EQ(WriteNew(root.path() / "d/a.url"), "");
  EXPECT_NE(g_temporary_attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(::GetFileAttributesW((root.path() / "d/a.url").c_str()) &
                FILE_ATTRIBUTE_HIDDEN,
            0u);
  EXPECT_FALSE(fs::exists(leftover));
  for (const fs::path& other : kept) EXPECT_TRUE(fs::exists(other)) << other;
}

}  // namespace
}  // namespace norvale
