#include "services/win/identity.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "services/win/handle.h"
#include "services/win/long_path.h"
#include "services/win/system_calls.h"

namespace norvale {

bool ReadRawId(HANDLE handle, RawId* raw) {
  FileIdInfo id;
  if (Calls().get_file_info(handle, kFileIdInfo, &id, sizeof(id))) {
    raw->serial = id.VolumeSerialNumber;
    std::memcpy(&raw->low, id.FileId, sizeof(uint64_t));
    std::memcpy(&raw->high, id.FileId + sizeof(uint64_t), sizeof(uint64_t));
    raw->wide = true;
    return true;
  }
  // Windows 7 knows no 128-bit identity.
  BY_HANDLE_FILE_INFORMATION info;
  if (!Calls().get_file_index(handle, &info)) return false;
  raw->serial = info.dwVolumeSerialNumber;
  raw->low =
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  raw->high = 0;
  raw->wide = false;
  return true;
}

Numbering Volumes::Of(HANDLE handle, const RawId& raw) {
  const auto [at, fresh] = volumes_.try_emplace(raw.serial, Numbering::kPaths);
  if (!fresh) return at->second;
  wchar_t file_system[MAX_PATH + 1] = {};
  DWORD flags = 0;
  if (Calls().get_volume_info(handle, file_system, MAX_PATH + 1, &flags)) {
    if (std::wstring_view(file_system) == L"ReFS") {
      if (raw.wide) at->second = Numbering::kWideNumbers;
    } else if ((flags & FILE_SUPPORTS_OPEN_BY_FILE_ID) != 0 &&
               (raw.low != 0 || raw.high != 0)) {
      at->second = Numbering::kNumbers;
    }
  }
  return at->second;
}

Numbering Volumes::Known(uint64_t serial) const {
  const auto at = volumes_.find(serial);
  return at == volumes_.end() ? Numbering::kPaths : at->second;
}

namespace {

constexpr char kAction[] = "Could not tell which file is";

// Returns the real path of the file open as `handle`, the entry `path`
// names in its folder, where the system will not name it whole: Wine names
// no path longer than MAX_PATH so, but its file name information names any,
// as the volume stores it, less the drive. That is the real path of the
// folder, and the entry's name.
std::wstring LongRealPath(HANDLE handle, const std::filesystem::path& path) {
  std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 0x10000 * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  const std::filesystem::path folder = path.parent_path();
  if (folder == path ||
      !Calls().get_file_info(handle, FileNameInfo, info,
                             static_cast<DWORD>(buffer.size()))) {
    throw FileError(kAction, path);
  }
  const std::wstring_view within(info->FileName,
                                 info->FileNameLength / sizeof(wchar_t));
  const size_t name_at = within.rfind(L'\\');
  Handle open(Calls().create_file(LongPath(folder).c_str(), 0, kShareAll,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!open.valid()) throw FileError(kAction, path);
  std::wstring real = RealPath(open.get(), folder);
  // What was opened must be that folder's entry, not what a link leads to.
  if (name_at == within.npos || real.size() < name_at ||
      std::wstring_view(real).substr(real.size() - name_at) !=
          within.substr(0, name_at)) {
    throw Error(kAction, path,
                "It is reached through a link too long to follow");
  }
  return real += within.substr(name_at);
}

}  // namespace

std::wstring RealPath(HANDLE handle, const std::filesystem::path& path) {
  // The volume by the drive, folder or share it is reached through, as
  // Windows names it alike for every file on it ("\\?\E:\...",
  // "\\?\UNC\srv\share\..."): two shares of one server disk have one
  // serial. Wine names only its drives' own disks as devices.
  constexpr DWORD kForm = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::wstring real(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, real.data(), static_cast<DWORD>(real.size()), kForm);
    if (length == 0 && ::GetLastError() == ERROR_MORE_DATA) {
      return LongRealPath(handle, path);
    }
    if (length == 0) throw FileError(kAction, path);
    if (length < real.size()) {
      real.resize(length);
      break;
    }
    real.resize(length);
  }
  // A volume's root ends in a separator; no other folder does.
  if (!real.empty() && real.back() == L'\\') real.pop_back();
  return real;
}

}  // namespace norvale
