// Windows implementation of the folder primitives, on the wide-character
// API: the C run-time's own folder functions stop at 260 characters.
#include <windows.h>

#include <utility>

#include "services/folder_io.h"
#include "services/win/file_kind.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"

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
  const HANDLE handle = Calls().create_file(
      LongPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS);
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
  const HANDLE find = Calls().find_first(LongPath(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    // Only a drive's root can be empty of even "." and "..".
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) ec = LastError();
    return entries;
  }
  do {
    if (IsDotOrDotDot(data.cFileName)) continue;
    const DWORD attributes = data.dwFileAttributes;
    FolderEntry entry{data.cFileName, FileKind::kFile};
    if (IsLink(attributes, data.dwReserved0)) {
      // A link to a file is taken for one where the system follows it to a
      // regular file. One it cannot follow (dangling, denied, or made by
      // WSL, which Windows cannot follow) is unknown: it may stand for a
      // shortcut. A link to a folder is never followed.
      entry.link = true;
      entry.kind = FileKind::kOther;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const FileKind target = KindOf(folder / data.cFileName, entry.error);
        if (target == FileKind::kFile) entry.kind = FileKind::kFile;
        if (entry.error) entry.kind = FileKind::kUnknown;
      }
    } else if (IsSpecialFile(attributes, data.dwReserved0)) {
      entry.kind = FileKind::kOther;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entry.kind = FileKind::kFolder;
    }
    entries.push_back(std::move(entry));
  } while (Calls().find_next(find, &data));
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
