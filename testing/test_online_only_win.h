// Test helper: files whose content is online only, which Wine cannot show.
// The calls of services/win/system_calls.h give them Windows' attributes
// and note each read of one, or open that would fetch one, by the end of
// its path, as Windows would download it there.
#ifndef NORVALE_TESTING_TEST_ONLINE_ONLY_WIN_H_
#define NORVALE_TESTING_TEST_ONLINE_ONLY_WIN_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/win/file_kind.h"
#include "services/win/system_calls.h"

namespace norvale {
namespace online_only {

// As OneDrive leaves a file after "Free up space", and as a storage manager
// that moved it away, whose files are fetched when opened.
constexpr DWORD kOneDrive = FILE_ATTRIBUTE_REPARSE_POINT | kRecallOnDataAccess;
constexpr DWORD kMovedAway =
    FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_OFFLINE | kRecallOnOpen;

struct Cloud {
  std::vector<std::pair<std::wstring, DWORD>> files;  // By end of path.
  std::vector<std::wstring> fetched;
  bool offline = false;  // A read of one fails, as offline.
};

inline Cloud& TheCloud() {
  static Cloud cloud;
  return cloud;
}

// Makes the file whose path ends in `end` show `attributes`.
inline void Mark(std::wstring end, DWORD attributes) {
  for (wchar_t& c : end) c = c == L'/' ? L'\\' : c;
  TheCloud().files.emplace_back(std::move(end), attributes);
}

// Returns the marked file `path`, or the one open as `handle`, or null.
inline const std::pair<std::wstring, DWORD>* Marked(std::wstring_view path) {
  for (const auto& file : TheCloud().files) {
    const size_t size = file.first.size();
    if (path.size() > size && path[path.size() - size - 1] == L'\\' &&
        ::CompareStringOrdinal(&path[path.size() - size], size,
                               file.first.data(), size, TRUE) == CSTR_EQUAL) {
      return &file;
    }
  }
  return nullptr;
}
inline const std::pair<std::wstring, DWORD>* MarkedOpen(HANDLE handle) {
  wchar_t path[4096];
  const DWORD size = ::GetFinalPathNameByHandleW(handle, path, 4096, 0);
  return size > 0 && size < 4096 ? Marked({path, size}) : nullptr;
}

// Puts the calls that show the marks in force.
inline void Install() {
  Calls().create_file = [](const wchar_t* path, DWORD access, DWORD share,
                           DWORD disposition, DWORD flags) {
    const auto* file = Marked(path);
    if (file != nullptr && (file->second & kRecallOnOpen) &&
        !(flags & FILE_FLAG_OPEN_REPARSE_POINT) && disposition == OPEN_EXISTING)
      TheCloud().fetched.push_back(file->first);
    return SystemCalls().create_file(path, access, share, disposition, flags);
  };
  Calls().read_file = [](HANDLE handle, void* into, DWORD size, DWORD* got) {
    if (const auto* file = MarkedOpen(handle)) {
      TheCloud().fetched.push_back(file->first);
      if (TheCloud().offline) {
        ::SetLastError(362);  // ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING
        return FALSE;
      }
    }
    return SystemCalls().read_file(handle, into, size, got);
  };
  Calls().get_file_info = [](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS what,
                             void* info, DWORD size) {
    const BOOL got = SystemCalls().get_file_info(handle, what, info, size);
    const bool basic = what == FileBasicInfo;
    const auto* file = got && (basic || what == FileAttributeTagInfo)
                           ? MarkedOpen(handle)
                           : nullptr;
    if (file != nullptr && basic) {
      static_cast<FILE_BASIC_INFO*>(info)->FileAttributes |= file->second;
    } else if (file != nullptr) {
      *static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info) = {
          static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |
              file->second,
          IO_REPARSE_TAG_CLOUD_3};
    }
    return got;
  };
}

// Puts the marks in force for the life of the object, forgetting them and
// what was fetched after.
struct Scoped {
  Scoped() { Install(); }
  ~Scoped() {
    Calls() = SystemCalls();
    TheCloud().files.clear();
    TheCloud().fetched.clear();
  }
};

}  // namespace online_only
}  // namespace norvale

#endif  // NORVALE_TESTING_TEST_ONLINE_ONLY_WIN_H_
