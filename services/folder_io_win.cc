// Windows implementation of the folder primitives, on the wide-character
// API: the C run-time's own folder functions stop at 260 characters.
#include <windows.h>

#include "services/folder_io.h"
#include "services/long_path_win.h"
#include "services/system_calls_win.h"

namespace norvale {
namespace {

std::error_code LastError() {
  return std::error_code(static_cast<int>(::GetLastError()),
                         std::system_category());
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' &&
         (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

FileKind KindOf(const std::filesystem::path& path, std::error_code& ec) {
  ec.clear();
  // Opening follows links, as the attributes of the name alone would not;
  // no access is asked for, and backup semantics let folders open too.
  const HANDLE handle = ::CreateFileW(
      LongPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ec = LastError();
    return FileKind::kNone;
  }
  FileKind kind = FileKind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(handle) == FILE_TYPE_DISK &&
      ::GetFileInformationByHandle(handle, &info)) {
    kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? FileKind::kFolder
               : FileKind::kFile;
  }
  ::CloseHandle(handle);
  return kind;
}

std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder,
                                    std::error_code& ec) {
  ec.clear();
  std::vector<FolderEntry> entries;
  std::wstring pattern = folder.native();
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/' &&
      pattern.back() != L':') {
    pattern += L'\\';
  }
  pattern += L'*';
  WIN32_FIND_DATAW data;
  // The listing brings each entry's attributes, so no entry needs a call
  // of its own.
  const HANDLE find = ::FindFirstFileExW(
      LongPath(pattern).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
      nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    // Only a drive's root can be empty of even "." and "..".
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) ec = LastError();
    return entries;
  }
  do {
    if (IsDotOrDotDot(data.cFileName)) continue;
    FileKind kind = FileKind::kFile;
    const DWORD attributes = data.dwFileAttributes;
    // Junctions and symbolic links are reparse points of their own kinds;
    // other reparse points, such as files kept in the cloud, are what they
    // seem.
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                      (data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
                       data.dwReserved0 == IO_REPARSE_TAG_SYMLINK);
    if (link) {
      kind = FileKind::kOther;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        std::error_code target_ec;
        if (KindOf(folder / data.cFileName, target_ec) == FileKind::kFile) {
          kind = FileKind::kFile;
        }
      }
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      kind = FileKind::kFolder;
    }
    entries.push_back({data.cFileName, kind});
  } while (::FindNextFileW(find, &data));
  if (::GetLastError() != ERROR_NO_MORE_FILES) ec = LastError();
  ::FindClose(find);
  return entries;
}

bool MakeFolder(const std::filesystem::path& folder, std::error_code& ec) {
  ec.clear();
  if (Calls().create_directory(LongPath(folder).c_str())) return true;
  const std::error_code create_error = LastError();
  // A folder already there is one to write into, whatever making it again
  // answered: Windows says access denied for a drive's root (E:\), Wine
  // that it exists.
  std::error_code kind_ec;
  if (KindOf(folder, kind_ec) == FileKind::kFolder) return false;
  ec = create_error;
  return false;
}

}  // namespace norvale
