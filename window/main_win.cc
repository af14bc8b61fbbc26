// Starts Norvale on Windows: its one window, filled with the default folders
// or the folders given, unless the command line asks for no window at all.
#include <windows.h>
//
#include <commctrl.h>

#include <exception>

#include "services/win/utf16.h"
#include "terminal/arguments_win.h"
#include "terminal/command_line.h"
#include "terminal/run_in_terminal.h"
#include "window/frm_norvale_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The arguments in UTF-16, which every name of a file or folder is, split
  // so that a quoted drive or folder ending in a backslash keeps it.
  const norvale::CommandLine command =
      norvale::ParseCommandLine(norvale::SplitCommandLine(::GetCommandLineW()));
  // Norvale.exe is a window program; a run without a window writes to the
  // console of whatever started it.
  if (command.action != norvale::CommandLine::Action::kWindow)
    return norvale::RunInTerminal(command);

  // The manifest asks for version 6 of the common controls; this loads them.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  try {
    frmNorvale window(instance);
    window.Form_Load(command);
    window.Show(show_command);
    return window.RunMessageLoop();
  } catch (const std::exception& error) {
    // Without its window or its folders Norvale has nothing to offer; say
    // why and end.
    ::MessageBoxW(nullptr, norvale::WideFromUtf8(error.what()).c_str(),
                  L"Norvale", MB_ICONERROR | MB_OK);
    return 1;
  }
}
