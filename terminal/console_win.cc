#include <windows.h>

#include <string>

#include "terminal/console.h"

namespace norvale {
namespace {

// Norvale.exe is a window program: started from cmd.exe or PowerShell it
// gets no console, only handles that were redirected. The parent's console
// is attached once, for whichever stream needs it first.
HANDLE HandleOf(Console::Stream stream) {
  const DWORD which =
      stream == Console::Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  HANDLE handle = ::GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    // A file, a pipe or a console already attached is where the output
    // was sent; anything else may be a handle of a console not attached.
    const DWORD type = ::GetFileType(handle);
    DWORD mode;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE ||
        (type == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode))) {
      return handle;
    }
  }
  static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != 0;
  if (!attached) return nullptr;
  handle = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  ::SetStdHandle(which, handle);
  return handle;
}

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle != nullptr && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

Console::Console(Stream stream)
    : stream_(stream), terminal_(IsConsole(HandleOf(stream))) {}

size_t Console::Columns() const {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(HandleOf(stream_), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void Console::Write(std::string_view text) {
  const HANDLE handle = HandleOf(stream_);
  if (handle == nullptr || text.empty()) return;
  if (terminal_) {
    // A console shows UTF-16 as it is, whatever its code page.
    const int size = ::MultiByteToWideChar(
        CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(),
                          static_cast<int>(text.size()), wide.data(), size);
    DWORD written;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()),
                    &written, nullptr);
    return;
  }
  // A file or pipe gets UTF-8, as a script reading it expects today.
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()),
                     &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

}  // namespace norvale
