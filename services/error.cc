#include "services/error.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>

#include "services/win/utf16.h"
#endif

namespace norvale {
namespace {

std::string Compose(std::string_view action, const std::filesystem::path& path,
                    std::string_view reason) {
  std::string message(action);
  if (!path.empty()) {
    message += " \"";
    // On Windows the native text is UTF-16; UTF-8 keeps every character,
    // where the narrow code page would lose those outside it.
    message += path.u8string();
    message += "\"";
  }
  message += ": ";
  message += reason;
  return message;
}

}  // namespace

#ifdef _WIN32
// FormatMessageW's line end and full stop are left off.
std::string WindowsReason(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide(text != nullptr ? text : L"", length);
  ::LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' ||
                           wide.back() == L' ' || wide.back() == L'.')) {
    wide.pop_back();
  }
  if (wide.empty()) return "Windows error " + std::to_string(code);
  return Utf8FromWide(wide);
}
#endif

Error::Error(std::string_view action, const std::filesystem::path& path,
             std::string_view reason)
    : std::runtime_error(Compose(action, path, reason)) {}

Error SystemError(std::string_view action, const std::filesystem::path& path,
                  std::error_code code) {
#ifdef _WIN32
  // The run-time's own texts for Windows codes are terse and English only.
  if (code.category() == std::system_category()) {
    return WindowsError(action, path, static_cast<DWORD>(code.value()));
  }
#else
  // The system's "Read-only file system" reads as if the file were.
  if (code == std::errc::read_only_file_system) {
    return Error(action, path, "Its disk is mounted read-only");
  }
#endif
  return Error(action, path, code.message());
}

Error ErrnoError(std::string_view action, const std::filesystem::path& path) {
  return SystemError(action, path,
                     std::error_code(errno, std::generic_category()));
}

#ifndef _WIN32
Error MakingError(std::string_view action, const std::filesystem::path& path,
                  std::error_code code, std::string_view kind) {
  // FAT and exFAT through FUSE say EPERM of a name they cannot store, the
  // kernel's drivers EINVAL or EILSEQ.
  if (code == std::errc::operation_not_permitted ||
      code == std::errc::invalid_argument ||
      code == std::errc::illegal_byte_sequence) {
    return Error(
        action, path,
        "Its disk cannot store a " + std::string(kind) + " of this name");
  }
  return SystemError(action, path, code);
}
#endif

#ifdef _WIN32
Error WindowsError(std::string_view action, const std::filesystem::path& path,
                   unsigned long code) {
  return Error(action, path, WindowsReason(code));
}
#endif

}  // namespace norvale
