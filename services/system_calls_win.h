// The Windows calls whose answers differ between Windows and Wine, reached
// through pointers so that a test can give Windows' answers under Wine.
#ifndef NORVALE_SERVICES_SYSTEM_CALLS_WIN_H_
#define NORVALE_SERVICES_SYSTEM_CALLS_WIN_H_

#include <windows.h>

namespace norvale {

// Windows 8's 128-bit file identity, asked for by number so that Norvale
// still starts on Windows 7, which answers that it knows no such class.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfo {
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};

// Each member calls the Windows function of its name, with the arguments
// Norvale varies; the defaults are the system's own.
struct SystemCalls {
  HANDLE (*create_file)
  (const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
   DWORD flags) = [](const wchar_t* path, DWORD access, DWORD share,
                     DWORD disposition, DWORD flags) {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags,
                         nullptr);
  };
  BOOL (*create_directory)
  (const wchar_t* path) =
      [](const wchar_t* path) { return ::CreateDirectoryW(path, nullptr); };
  BOOL (*get_file_info)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) =
      [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
        return ::GetFileInformationByHandleEx(file, what, info, size);
      };
  BOOL (*get_file_index)
  (HANDLE file, BY_HANDLE_FILE_INFORMATION* info) =
      [](HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
        return ::GetFileInformationByHandle(file, info);
      };
  BOOL (*set_file_info)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) =
      [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
        return ::SetFileInformationByHandle(file, what, info, size);
      };
};

// Returns the calls the file and folder primitives make.
inline SystemCalls& Calls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace norvale

#endif  // NORVALE_SERVICES_SYSTEM_CALLS_WIN_H_
