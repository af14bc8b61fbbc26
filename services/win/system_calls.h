// The Windows calls whose answers differ between Windows and Wine, reached
// through pointers so that a test can give Windows' answers under Wine.
#ifndef NORVALE_SERVICES_WIN_SYSTEM_CALLS_H_
#define NORVALE_SERVICES_WIN_SYSTEM_CALLS_H_

#include <windows.h>

#include <cstdint>

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
  HANDLE(*create_file)
  (const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
   DWORD flags) = [](const wchar_t* path, DWORD access, DWORD share,
                     DWORD disposition, DWORD flags) {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags,
                         nullptr);
  };
  BOOL(*create_directory)
  (const wchar_t* path) = [](const wchar_t* path) {
    return ::CreateDirectoryW(path, nullptr);
  };
  BOOL(*get_file_info)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) =
      [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
        return ::GetFileInformationByHandleEx(file, what, info, size);
      };
  BOOL(*get_file_index)
  (HANDLE file, BY_HANDLE_FILE_INFORMATION* info) =
      [](HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
        return ::GetFileInformationByHandle(file, info);
      };
  BOOL(*set_file_info)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) =
      [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS what, void* info, DWORD size) {
        return ::SetFileInformationByHandle(file, what, info, size);
      };
  // FindFirstFileExW's basic listing of what `pattern` matches, fetched in
  // large batches, and FindNextFileW.
  HANDLE(*find_first)
  (const wchar_t* pattern, WIN32_FIND_DATAW* data) =
      [](const wchar_t* pattern, WIN32_FIND_DATAW* data) {
        return ::FindFirstFileExW(pattern, FindExInfoBasic, data,
                                  FindExSearchNameMatch, nullptr,
                                  FIND_FIRST_EX_LARGE_FETCH);
      };
  BOOL(*find_next)
  (HANDLE find, WIN32_FIND_DATAW* data) = [](HANDLE find,
                                             WIN32_FIND_DATAW* data) {
    return ::FindNextFileW(find, data);
  };
  // ReadFile, from where the last read ended.
  BOOL(*read_file)
  (HANDLE file, void* into, DWORD size,
   DWORD* got) = [](HANDLE file, void* into, DWORD size, DWORD* got) {
    return ::ReadFile(file, into, size, got, nullptr);
  };
  // GetVolumeInformationByHandleW's file system name and flags.
  BOOL(*get_volume_info)
  (HANDLE file, wchar_t* file_system, DWORD size, DWORD* flags) =
      [](HANDLE file, wchar_t* file_system, DWORD size, DWORD* flags) {
        return ::GetVolumeInformationByHandleW(
            file, nullptr, 0, nullptr, nullptr, flags, file_system, size);
      };
  // NtQueryInformationFile's FileInternalInformation: the 64-bit file
  // number, without the volume serial that the other calls ask the volume
  // for (a round trip to another process under Wine).
  BOOL(*get_file_number)
  (HANDLE file, uint64_t* number) = [](HANDLE file, uint64_t* number) {
    using Query = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
    static const auto query =
        reinterpret_cast<Query>(reinterpret_cast<void*>(::GetProcAddress(
            ::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    struct {
      void* status;
      ULONG_PTR information;
    } io;
    return query != nullptr && query(file, &io, number, sizeof(*number), 6) == 0
               ? TRUE
               : FALSE;
  };
};

// Returns the calls the file and folder primitives make.
inline SystemCalls& Calls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_SYSTEM_CALLS_H_
