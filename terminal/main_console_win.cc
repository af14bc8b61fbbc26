// Starts Norvale.com, the console program beside Norvale.exe. cmd and
// PowerShell start it for a typed "Norvale" before Norvale.exe, so a run
// without a window runs in their console, which waits for it, gets its exit
// status and passes it Ctrl+C. A command line that opens the window starts
// Norvale.exe.
#include <windows.h>

#include <string>

#include "services/error.h"
#include "terminal/arguments_win.h"
#include "terminal/command_line.h"
#include "terminal/console.h"
#include "terminal/run_in_terminal.h"

namespace {

// Returns the path of Norvale.exe, beside this program.
std::wstring WindowProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(),
                                              static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'.')) + L".exe";
}

// Starts Norvale.exe with the arguments of `command_line` as they were
// typed, and returns the exit status: a window program is not waited for,
// as a typed one is not either.
int OpenWindow(std::wstring_view command_line) {
  const std::wstring program = WindowProgram();
  std::wstring line = L"\"" + program + L"\" ";
  line += norvale::ArgumentsText(command_line);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &process)) {
    const std::string error =
        norvale::WindowsError("Could not start", program, ::GetLastError())
            .what();
    norvale::Console(norvale::Console::Stream::kError)
        .Write("Norvale: " + error + "\n");
    return norvale::kExitFailed;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return norvale::kExitFinished;
}

}  // namespace

int wmain(int, wchar_t**) {
  const wchar_t* line = ::GetCommandLineW();
  const norvale::CommandLine command =
      norvale::ParseCommandLine(norvale::SplitCommandLine(line));
  if (command.action == norvale::CommandLine::Action::kWindow) {
    return OpenWindow(line);
  }
  return norvale::RunInTerminal(command);
}
