#include "services/long_path_win.h"

#include <windows.h>

namespace norvale {

std::wstring LongPath(const std::filesystem::path& path) {
  const std::wstring& text = path.native();
  // CreateDirectoryW leaves room for an 8.3 name within MAX_PATH, so the
  // shortest limit is 12 below it.
  if (text.size() < MAX_PATH - 12 || text.rfind(L"\\\\?\\", 0) == 0 ||
      text.rfind(L"\\\\.\\", 0) == 0) {
    return text;
  }
  // The prefix turns off the system's own clean-up of the path, so do it
  // here: make it absolute, "/" into "\", "." and ".." resolved.
  std::wstring full(text.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(
        text.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return text;  // The call that uses it reports why.
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);
  }
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace norvale
