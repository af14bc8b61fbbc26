// Tests of the Windows file work where Windows answers otherwise than Wine:
// the fixture's SystemCalls give Windows' answers, as each test says.
#include <gtest/gtest.h>
#include <windows.h>
#undef ReplaceFile  // Norvale's, not the Windows header's ReplaceFileW.

#include <cstring>
#include <iostream>
#include <optional>

#include "services/file_tools.h"
#include "services/file_work.h"
#include "services/folder_io.h"
#include "services/shell_folders.h"
#include "services/win/file_kind.h"
#include "services/win/system_calls.h"
#include "testing/test_folder.h"

extern "C" ULONG WINAPI RtlNtStatusToDosError(LONG status);

namespace norvale {
namespace {

namespace fs = std::filesystem;

const std::string kOld = "[InternetShortcut]\r\nURL=http://old/\r\n";
const std::string kNew = "[InternetShortcut]\r\nURL=http://new/\r\n";
// What goes wrong: another program rewrites the file once a temporary file
// is made, reads end after 5 bytes, another program holds the file (or the
// copy that is to be replaced), is deleting it, the disk is write
// protected, or Controlled Folder Access denies every change.
enum Fault {
  kNone,
  kRewrite,
  kCut,
  kHeld,
  kHeldCopy,
  kDeleting,
  kProtected,
  kDenied
};
Fault g_fault;

// Every file's reparse tag (also as listed) and attributes added, how many
// more opens and renames fail as held, whether remaking a folder is denied,
// the attributes a temporary file was created with, how many reads were
// made, and the copy that another program rewrites.
DWORD g_tag, g_attributes, g_held_opens, g_held_renames, g_temporary_attributes,
    g_reads;
bool g_root;
fs::path g_copy;

// Lists the entry `data` with every file's reparse tag.
void Tag(WIN32_FIND_DATAW* data) {
  if (g_tag != 0 && data->cFileName[0] != L'.') {
    data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    data->dwReserved0 = g_tag;
  }
}

class FileWorkWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tag = g_attributes = g_held_opens = g_held_renames =
        g_temporary_attributes = g_reads = 0;
    g_root = false;
    g_fault = kNone;
    Calls().create_file = [](const wchar_t* path, DWORD access, DWORD share,
                             DWORD disposition, DWORD flags) {
      if (disposition == CREATE_NEW) g_temporary_attributes = flags;
      if (disposition == CREATE_NEW && g_fault == kRewrite)
        std::ofstream(g_copy) << "changed";
      if (g_fault == kDenied && disposition == CREATE_NEW) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if ((g_fault == kDeleting && (access & GENERIC_READ)) ||
          (g_fault == kProtected && disposition == CREATE_NEW)) {
        ::SetLastError(RtlNtStatusToDosError(
            g_fault == kDeleting ? 0xC0000056 : 0xC00000A2));
        return INVALID_HANDLE_VALUE;
      }
      if ((access & GENERIC_READ) && g_held_opens > 0 && g_held_opens--) {
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
      // Windows cannot follow links that WSL or an NFS server made.
      if ((g_tag == kTagWslLink || g_tag == IO_REPARSE_TAG_NFS) &&
          !(flags & FILE_FLAG_OPEN_REPARSE_POINT) &&
          std::wcsstr(path, L".url")) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
      }
      // A cloud file's content comes only through OneDrive's driver, which
      // the name opened as itself bypasses.
      if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) &&
          (g_tag & 0xFFFF0FFF) == IO_REPARSE_TAG_CLOUD) {
        access = FILE_READ_ATTRIBUTES | (access & DELETE);
      }
      return SystemCalls().create_file(path, access, share, disposition, flags);
    };
    Calls().create_directory = [](const wchar_t* path) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return g_root || g_fault == kDenied
                 ? FALSE
                 : SystemCalls().create_directory(path);
    };
    Calls().read_file = [](HANDLE file, void* into, DWORD size, DWORD* got) {
      ++g_reads;
      LARGE_INTEGER at = {};
      ::SetFilePointerEx(file, at, &at, FILE_CURRENT);
      if (g_fault == kCut) size = at.QuadPart < 5 ? 5 - at.LowPart : 0;
      return SystemCalls().read_file(file, into, size, got);
    };
    Calls().get_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                               void* info, DWORD size) {
      const BOOL got = SystemCalls().get_file_info(file, what, info, size);
      if (what == FileBasicInfo) {
        static_cast<FILE_BASIC_INFO*>(info)->FileAttributes |=
            g_attributes | (g_tag != 0 ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
      }
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
      if (what == FileAttributeTagInfo) tag->FileAttributes |= g_attributes;
      if (what == FileAttributeTagInfo && g_tag != 0) {
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = g_tag;
      }
      return got;
    };
    Calls().find_first = [](const wchar_t* pattern, WIN32_FIND_DATAW* data) {
      const HANDLE find = SystemCalls().find_first(pattern, data);
      Tag(data);
      return find;
    };
    Calls().find_next = [](HANDLE find, WIN32_FIND_DATAW* data) {
      const BOOL found = SystemCalls().find_next(find, data);
      Tag(data);
      return found;
    };
    // Windows takes a full path to rename to only in the system's own form;
    // Wine takes others too.
    Calls().set_file_info = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what,
                               void* info, DWORD size) {
      if (what == FileRenameInfo &&
          std::wcsncmp(static_cast<FILE_RENAME_INFO*>(info)->FileName,
                       L"\\??\\", 4) != 0) {
        ::SetLastError(ERROR_INVALID_NAME);
        return FALSE;
      }
      if (what == FileDispositionInfo && g_fault == kProtected) {
        ::SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
      }
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
    FileWork work;
    return ErrorOf([&] {
      FileTools::Instance().WriteIniValue(target, "InternetShortcut", "URL",
                                          IniText::Bytes("http://new/"),
                                          PathList(), work);
    });
  }

  TestFolder root;
};

// Synced OneDrive files, deduplicated and compressed ones are reparse points
// but files. Symbolic links, junctions, WSL and NFS links are links, WSL's
// pipes no files: a copy is neither read nor written there, nor where it is
// online only, which reading would download (left without a failure); a
// link Windows cannot follow is listed as unknown, for a search to stop at.
// An open or rename that Defender, the indexer or OneDrive holds for a
// moment is waited out for about a second, then reported. A USB stick's
// root, which Windows says it cannot make again, is a folder to write into.
TEST_F(FileWorkWinTest, TakesFilesAndFoldersAsWindowsHasThem) {
  const char *kLink = "It is a link", *kOnline = "";
  const struct {
    DWORD tag, attributes;
    const char* said;  // Why it is left as it is; "" when left without a
                       // failure; null when replaced.
    FileKind listed;
  } cases[] = {
      {IO_REPARSE_TAG_CLOUD_3, 0, nullptr, FileKind::kFile},
      {IO_REPARSE_TAG_WOF, 0, nullptr, FileKind::kFile},
      {IO_REPARSE_TAG_DEDUP, 0, nullptr, FileKind::kFile},
      {IO_REPARSE_TAG_SYMLINK, 0, kLink, FileKind::kFile},
      {IO_REPARSE_TAG_MOUNT_POINT, 0, kLink, FileKind::kNone},
      {kTagWslLink, 0, kLink, FileKind::kUnknown},
      {IO_REPARSE_TAG_NFS, 0, kLink, FileKind::kUnknown},
      {kTagWslFifo, 0, "not a regular file", FileKind::kOther},
      {IO_REPARSE_TAG_CLOUD_3, kRecallOnDataAccess, kOnline, FileKind::kFile},
      {IO_REPARSE_TAG_CLOUD_3, kRecallOnOpen, kOnline, FileKind::kFile},
      {0, FILE_ATTRIBUTE_OFFLINE, kOnline, FileKind::kFile},
  };
  for (const auto& c : cases) {
    g_tag = c.tag;
    g_attributes = c.attributes;
    g_reads = 0;
    const std::string name = std::to_string(&c - cases);
    const fs::path target = root.Write(name + "/a.url", kOld);
    std::error_code ec;
    if (c.listed != FileKind::kNone) {
      EXPECT_EQ(ListFolder(target.parent_path(), ec)[0].kind, c.listed) << name;
    }
    const std::string said = WriteNew(target);
    EXPECT_NE(said.find(c.said ? c.said : ""), std::string::npos) << said;
    EXPECT_EQ(said.empty(), !c.said || !*c.said) << said;
    EXPECT_EQ(ReadBytes(target), c.said ? kOld : kNew) << said;
    EXPECT_EQ(g_reads > 0, !c.said) << name;
  }
  g_tag = g_attributes = 0;
  const fs::path held = root.Write("a.url", kOld), lost = root.Write("b", kOld);
  g_held_opens = g_held_renames = 3;
  EXPECT_EQ(WriteNew(held), "");
  g_held_renames = 1000;
  EXPECT_NE(WriteNew(lost).find(lost.u8string()), std::string::npos);
  EXPECT_EQ(ReadBytes(held) + ReadBytes(lost), kNew + kOld);
  g_held_renames = 0;
  g_root = true;
  FileTools& files = FileTools::Instance();
  FileWork work;
  EXPECT_EQ(ErrorOf([&] { files.CreateFolder(root.path(), work); }), "");
  EXPECT_NE(
      ErrorOf([&] { files.CreateFolder(held, work); }).find("file of that"),
      std::string::npos);
}

// A killed run's temporary files are removed by the next run that writes to
// their folder: only files of Norvale's name, holding what Norvale could
// have written, from before the run, and not in a folder searched for
// sources. A leading dot hides nothing on Windows: a temporary file is
// hidden, the copy not.
TEST_F(FileWorkWinTest, RemovesOnlyItsOwnLeftovers) {
  const struct {
    const char* name;
    std::string content;
    bool before_run, source_folder, removed;
    DWORD attributes = 0;  // As a storage manager that moved it away.
  } cases[] = {
      {".norvale-1-1.tmp", "", true, false, true},
      {".norvale-1-2.tmp", "[InternetShortcut]\r\nUR", true, false, true},
      {".norvale-1-3.tmp", "a user's notes", true, false, false},
      {".norvale-1-4.tmp", "", false, false, false},
      {".norvale-1-5.tmpx", "", true, false, false},
      {".norvale-x-6.tmp", "", true, false, false},
      {".norvale-1-7.tmp", "", true, true, false},
      {".norvale-1-8.tmp", "[Int", true, false, false, FILE_ATTRIBUTE_OFFLINE},
  };
  for (const auto& c : cases) {
    const fs::path folder = root.path() / c.name;
    std::optional<FileWork> work;
    if (!c.before_run) work.emplace();
    root.Write(folder / c.name, c.content);
    if (c.before_run) ::Sleep(20), work.emplace();
    if (c.source_folder) work->NoteSourceFolder(*work->IdentifyFile(folder));
    g_attributes = c.attributes;
    g_reads = 0;
    EXPECT_EQ(work->WriteNewFile(folder / "a.url", kNew), true);
    g_attributes = 0;
    EXPECT_EQ(fs::exists(folder / c.name), !c.removed) << c.name;
    if (c.attributes != 0) {
      EXPECT_EQ(g_reads, 0u) << c.name;
    }
  }
  const fs::path copy = root.path() / cases[0].name / "a.url";
  FileWork().ReplaceFile(copy, kOld, kNew);
  EXPECT_NE(g_temporary_attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(::GetFileAttributesW(copy.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// Only what Norvale could have written is removed: a compact copy, not a
// fuller shortcut, an empty or read-only file, a link (its target stays) or
// anything else of the tags above; a synced copy is read, one online only
// never is. A held file or refusing disk is reported. A folder is removed
// only when empty, no link, and (synced) with every entry on this computer.
TEST_F(FileWorkWinTest, RemovesOnlyItsOwnCopies) {
  enum Setup { kFile, kReadOnly, kLink, kHeldOpen, kFolder, kNothing };
  const struct {
    Setup setup;
    std::string content;  // Of the file, or of one in the folder.
    bool folder;          // Removed as an empty folder, not as a copy.
    bool removed;
    DWORD tag = 0, attributes = 0;
    Fault fault = kNone;
    const char* said = nullptr;  // What Error says; null when there is none.
  } cases[] = {
      {kFile, kNew, false, true},
      {kFile, Shortcut("http://new/"), false, false},
      {kFile, "", false, false},
      {kReadOnly, kNew, false, false},
      {kLink, kNew, false, false},
      {kFile, kNew, false, false, IO_REPARSE_TAG_SYMLINK},
      {kFile, kNew, false, false, IO_REPARSE_TAG_MOUNT_POINT},
      {kFile, kNew, false, false, kTagWslLink},
      {kFile, kNew, false, false, IO_REPARSE_TAG_NFS},
      {kFile, kNew, false, false, kTagWslFifo},
      {kFile, kNew, false, true, IO_REPARSE_TAG_CLOUD_3},
      {kFile, kNew, false, false, IO_REPARSE_TAG_CLOUD_3, kRecallOnDataAccess},
      {kFile, kNew, false, false, IO_REPARSE_TAG_CLOUD_3, kRecallOnOpen},
      {kFile, kNew, false, false, 0, FILE_ATTRIBUTE_OFFLINE},
      {kHeldOpen, kNew, false, false, 0, 0, kNone, "Another program is using"},
      {kFile, kNew, false, false, 0, 0, kProtected, "Its disk is read-only"},
      {kFolder, "", false, false},
      {kNothing, "", false, false},
      {kFolder, "", true, true},
      {kFolder, kNew, true, false},
      {kLink, "", true, false},
      {kFolder, "", true, false, IO_REPARSE_TAG_MOUNT_POINT},
      {kFolder, "", true, true, IO_REPARSE_TAG_CLOUD_3},
      {kFolder, "", true, false, IO_REPARSE_TAG_CLOUD_3, kRecallOnOpen},
      {kFile, kNew, true, false},
      {kNothing, "", true, false},
      {kFolder, "", true, false, 0, 0, kProtected, "Its disk is read-only"},
  };
  for (const auto& c : cases) {
    const std::string name = std::to_string(&c - cases);
    const fs::path path = root.path() / name / "a.url";
    const fs::path target = root.path() / name / "target";
    fs::create_directories(path.parent_path());
    if (c.setup == kLink) {
      if (c.folder) fs::create_directory(target);
      if (!c.folder) root.Write(target.lexically_relative(root.path()), kNew);
      const DWORD kind = c.folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
      // Wine 8 says it made a link, and makes nothing.
      const DWORD made =
          ::CreateSymbolicLinkW(path.c_str(), target.c_str(), kind)
              ? ::GetFileAttributesW(path.c_str())
              : INVALID_FILE_ATTRIBUTES;
      if (made == INVALID_FILE_ATTRIBUTES ||
          (made & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        std::cout << "No symbolic link made here: row " << name
                  << " left out\n";
        continue;
      }
    } else if (c.setup == kFolder) {
      fs::create_directory(path);
      if (!c.content.empty()) root.Write(path / "b.url", c.content);
    } else if (c.setup != kNothing) {
      root.Write(path.lexically_relative(root.path()), c.content);
    }
    if (c.setup == kReadOnly)
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    const HANDLE held = c.setup != kHeldOpen
                            ? INVALID_HANDLE_VALUE
                            : ::CreateFileW(path.c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
    g_tag = c.tag;
    g_attributes = c.attributes;
    g_fault = c.fault;
    g_reads = 0;
    FileWork work;
    bool removed = false;
    const std::string said = ErrorOf([&] {
      removed = c.folder ? work.RemoveEmptyFolder(path) : work.RemoveCopy(path);
    });
    g_tag = g_attributes = 0;
    g_fault = kNone;
    ::CloseHandle(held);
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(removed, c.removed) << name << said;
    EXPECT_EQ(::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES,
              c.removed || c.setup == kNothing)
        << name;
    if (c.said) {
      EXPECT_NE(said.find(c.said), std::string::npos) << name << said;
      EXPECT_NE(said.find(path.u8string()), std::string::npos) << said;
    } else {
      EXPECT_EQ(said, "") << name;
    }
    if (!c.removed && !c.folder && c.setup != kFolder && c.setup != kNothing) {
      EXPECT_EQ(ReadBytes(path), c.content) << name;
    }
    if (c.setup == kLink) {
      EXPECT_TRUE(fs::exists(target)) << name;
    }
    if (!c.folder && (c.tag != 0 || c.attributes != 0)) {
      EXPECT_EQ(g_reads > 0, c.removed) << name;
    }
  }
  FileWork looking;
  looking.LookOnly();
  const fs::path copy = root.Write("a.url", kNew);
  bool would = false;
  EXPECT_EQ(ErrorOf([&] { would = looking.RemoveCopy(copy); }), "");
  EXPECT_TRUE(would);
  EXPECT_EQ(ReadBytes(copy), kNew);
}

// Each failure says what happened: a copy or source that another program
// rewrote, holds open or is deleting, a read cut short, a write-protected
// disk, a network share that cannot be found.
TEST_F(FileWorkWinTest, SaysWhatHappened) {
  g_copy = root.Write("a.url", kOld);
  FileWork work;
  FileTools& files = FileTools::Instance();
  const struct {
    Fault fault;
    char action;  // Reads, writes, or makes a folder on a share.
    std::string said;
  } cases[] = {
      {kRewrite, 'w', "It changed while Norvale was replacing"},
      {kCut, 'r', "It changed while Norvale was reading"},
      {kHeld, 'r', "\": Another program is using it"},
      {kHeldCopy, 'w', "\": Another program is using it"},
      {kDeleting, 'r', "Another program is deleting"},
      {kProtected, 'w', "Its disk is read-only"},
      {kNone, 's', "folder \"\\\\srv\\badshare\": "},
  };
  for (const auto& c : cases) {
    root.Write("a.url", kOld);
    g_fault = c.fault;
    // Another program holds the file, letting no one in, or letting others
    // read and write it but not replace it.
    const bool holds = c.fault == kHeld || c.fault == kHeldCopy;
    const HANDLE held =
        !holds ? INVALID_HANDLE_VALUE
               : ::CreateFileW(
                     g_copy.c_str(), GENERIC_READ,
                     c.fault == kHeld ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string message =
        c.action == 'w' ? WriteNew(g_copy) : ErrorOf([&] {
          if (c.action == 'r') {
            files.ReadIniValue(g_copy, "InternetShortcut", "URL", "", 0, work);
          } else {
            files.CreateFolder("\\\\srv\\badshare\\Copies", work);
          }
        });
    ::CloseHandle(held);
    EXPECT_NE(message.find(c.said), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(g_copy), c.fault == kRewrite ? "changed" : kOld);
  }
  // Controlled Folder Access answers a change in a folder it guards with
  // "Access is denied" alone; the message names it there, and only there.
  g_fault = kDenied;
  const fs::path desktop = ShellFolderPath(kDesktopFolder, "");
  for (const fs::path& place : {desktop, root.path()}) {
    for (const std::string& message :
         {ErrorOf([&] { files.CreateFolder(place / "Favs" / "New", work); }),
          WriteNew(place / "a.url")}) {
      EXPECT_NE(message.find(": Access"), std::string::npos) << message;
      EXPECT_EQ(message.find("Controlled Folder Access") != std::string::npos,
                place == desktop)
          << message;
    }
  }
}

}  // namespace
}  // namespace norvale
