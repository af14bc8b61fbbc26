#include "terminal/console_win.h"

#include <windows.h>

#include <string>

#include "services/win/utf16.h"
#include "terminal/console.h"

// What kind of device a handle reaches, which tells the null device from a
// console that Norvale.exe is not attached to yet.
extern "C" LONG WINAPI NtQueryVolumeInformationFile(HANDLE file, void* status,
                                                    void* information,
                                                    ULONG size, int what);

namespace norvale {
namespace {

constexpr int kDeviceInformation = 4;   // FileFsDeviceInformation
constexpr ULONG kConsoleDevice = 0x50;  // FILE_DEVICE_CONSOLE

// Returns true when `handle` is known to reach a device other than a
// console, such as the null device; Windows 7's console handles tell
// nothing.
bool IsOtherDevice(HANDLE handle) {
  struct {
    ULONG type, characteristics;
  } device = {};
  struct {
    void* status;
    ULONG_PTR information;
  } io;
  return NtQueryVolumeInformationFile(handle, &io, &device, sizeof(device),
                                      kDeviceInformation) == 0 &&
         device.type != kConsoleDevice;
}

// Returns the handle the stream writes to: the one the program was given,
// unless that is a console Norvale.exe is not attached to (a window program
// started from cmd.exe or PowerShell gets one it cannot use), or none at
// all; then the console of the program that started it.
HANDLE HandleOf(Console::Stream stream) {
  const DWORD which =
      stream == Console::Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode;
  // A file, a pipe, the null device (">nul") or a serial port is where the
  // output was sent.
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
      ::GetFileType(handle) != FILE_TYPE_UNKNOWN &&
      (::GetConsoleMode(handle, &mode) || IsOtherDevice(handle))) {
    return handle;
  }
  if (!AttachToConsole()) return nullptr;
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

// Returns `text`, UTF-8, as a file or pipe gets it: in the console's output
// code page (the OEM one, 437 or 850 in the West, unless chcp changed it),
// with CR LF line ends. That is what type, more and findstr show right, and
// what PowerShell 5.1 decodes a program's output with ([Console]::
// OutputEncoding) before it pipes or redirects it; UTF-8 shows "CafÃ©"
// there unless chcp 65001 made it the console's code page, and UTF-16
// breaks findstr and PowerShell's decoding. A character the code page
// lacks becomes "?", never a look-alike that would name another file.
std::string Encoded(std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  UINT code_page = ::GetConsoleOutputCP();
  if (code_page == 0) code_page = ::GetOEMCP();  // No console at all.
  if (code_page == CP_UTF8) return lines;
  const std::wstring wide = WideFromUtf8(lines);
  const int wide_size = static_cast<int>(wide.size());
  // Code pages such as ISO 2022's take no flags.
  for (const DWORD flags : {DWORD{WC_NO_BEST_FIT_CHARS}, DWORD{0}}) {
    const int length = ::WideCharToMultiByte(
        code_page, flags, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (length == 0) continue;
    std::string encoded(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(code_page, flags, wide.data(), wide_size,
                          encoded.data(), length, nullptr, nullptr);
    return encoded;
  }
  return lines;
}

}  // namespace

bool AttachToConsole() {
  // A program that has a console already is refused with access denied.
  static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != 0 ||
                               ::GetLastError() == ERROR_ACCESS_DENIED;
  return attached;
}

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
    const std::wstring wide = WideFromUtf8(text);
    DWORD written;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()),
                    &written, nullptr);
    return;
  }
  const std::string encoded = Encoded(text);
  std::string_view rest = encoded;
  while (!rest.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, rest.data(), static_cast<DWORD>(rest.size()),
                     &written, nullptr) ||
        written == 0) {
      return;
    }
    rest.remove_prefix(written);
  }
}

}  // namespace norvale
