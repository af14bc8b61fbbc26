#include "services/win/long_path.h"

#include <windows.h>

#include <vector>

namespace norvale {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Returns the prefixed spelling of a path that is not full, made full by
// the system, which also trims and maps device names: such a path never
// comes from a run, whose folders must be full.
std::wstring MadeFull(const std::wstring& text) {
  // CreateDirectoryW leaves room for an 8.3 name within MAX_PATH, so the
  // shortest limit is 12 below it.
  if (text.size() < MAX_PATH - 12) return text;
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

}  // namespace

std::wstring LongPath(const std::filesystem::path& path) {
  const std::wstring& text = path.native();
  if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) {
    return text;
  }
  // The prefix turns off the system's own clean-up of the path, so it is
  // done here, on the text alone, as the system would: the root stays, and
  // ".." never climbs above it.
  std::wstring result;
  size_t at = 0;
  size_t kept_parts = 0;  // The server and share of a network path.
  const wchar_t drive = text.size() >= 3 ? text[0] | 0x20 : 0;
  if (drive >= L'a' && drive <= L'z' && text[1] == L':' &&
      IsSeparator(text[2])) {
    result = L"\\\\?\\" + text.substr(0, 2);
    at = 3;
  } else if (text.size() > 2 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
             !IsSeparator(text[2])) {
    result = L"\\\\?\\UNC";
    at = 2;
    kept_parts = 2;
  } else {
    return MadeFull(text);
  }
  std::vector<std::wstring> parts;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    std::wstring part = text.substr(at, end - at);
    at = end + 1;
    if (parts.size() < kept_parts) {
      if (part.empty()) return text;  // No server or share: not a path.
      parts.push_back(std::move(part));
    } else if (part == L"..") {
      if (parts.size() > kept_parts) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(std::move(part));
    }
  }
  if (parts.size() < kept_parts) return text;
  for (const std::wstring& part : parts) {
    result += L'\\';
    result += part;
  }
  // A drive's root keeps its separator: without it the prefix names the
  // volume itself.
  if (parts.empty()) result += L'\\';
  return result;
}

}  // namespace norvale
