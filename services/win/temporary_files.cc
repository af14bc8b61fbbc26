#include "services/win/temporary_files.h"

#include <atomic>
#include <string>
#include <string_view>

#include "ini/ini_format.h"
#include "services/error.h"
#include "services/win/file_kind.h"
#include "services/win/handle.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"

namespace norvale {
namespace {

constexpr std::wstring_view kStart = L".norvale-", kEnd = L".tmp";

// No compact copy a run cuts short is larger than a shortcut; a larger file
// is not read to find out.
constexpr LONGLONG kLargestLeftover = 1 << 20;

// The search pattern matches short names too; the name itself must match:
// the start, digits and a dash, the end.
bool IsTemporaryName(std::wstring_view name) {
  if (name.size() <= kStart.size() + kEnd.size() ||
      name.substr(0, kStart.size()) != kStart ||
      name.substr(name.size() - kEnd.size()) != kEnd) {
    return false;
  }
  name = name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
  return name.find_first_not_of(L"0123456789-") == name.npos;
}

// Removes the file `file` when, opened so that no one writes it meanwhile,
// it is a leftover of Norvale's by what it is, holds and when it was
// written; through the handle that judged it, so that what is removed is
// what was judged.
void RemoveIfLeftover(const std::filesystem::path& file,
                      const FILETIME& start) {
  Handle handle(Calls().create_file(
      LongPath(file).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN));
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!handle.valid() || ::GetFileType(handle.get()) != FILE_TYPE_DISK ||
      !Calls().get_file_info(handle.get(), FileBasicInfo, &basic,
                             sizeof(basic)) ||
      !Calls().get_file_info(handle.get(), FileStandardInfo, &standard,
                             sizeof(standard))) {
    return;
  }
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY |
                              FILE_ATTRIBUTE_REPARSE_POINT |
                              FILE_ATTRIBUTE_READONLY;
  // Nor is one online only read, which would download it.
  if ((basic.FileAttributes & kNotPlain) != 0 ||
      IsOnlineOnly(basic.FileAttributes) ||
      basic.LastWriteTime.QuadPart >=
          (static_cast<LONGLONG>(start.dwHighDateTime) << 32 |
           start.dwLowDateTime) ||
      standard.EndOfFile.QuadPart > kLargestLeftover) {
    return;
  }
  try {
    if (!IsCompactIniStart(ReadOpenFile(
            handle.get(), static_cast<uint64_t>(standard.EndOfFile.QuadPart),
            file))) {
      return;
    }
  } catch (const Error&) {
    return;
  }
  FILE_DISPOSITION_INFO remove = {TRUE};
  Calls().set_file_info(handle.get(), FileDispositionInfo, &remove,
                        sizeof(remove));
}

}  // namespace

std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::wstring name(kStart);
  name += std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++);
  name += kEnd;
  return path.parent_path() / name;
}

void RemoveLeftovers(const std::filesystem::path& folder,
                     const FILETIME& start) {
  std::wstring pattern = LongPath(folder);
  if (pattern.back() != L'\\') pattern += L'\\';
  const size_t folder_size = pattern.size();
  pattern += kStart;
  pattern += L'*';
  pattern += kEnd;
  WIN32_FIND_DATAW found;
  const HANDLE find =
      ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (IsTemporaryName(found.cFileName)) {
      RemoveIfLeftover(pattern.substr(0, folder_size) + found.cFileName, start);
    }
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

}  // namespace norvale
