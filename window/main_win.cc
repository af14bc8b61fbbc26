// Starts Norvale on Windows: its one window, filled with the default folders.
#include <windows.h>
//
#include <commctrl.h>

#include <exception>

#include "window/frm_norvale_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The manifest asks for version 6 of the common controls; this loads them.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  try {
    frmNorvale window(instance);
    window.Form_Load();
    window.Show(show_command);
    return window.RunMessageLoop();
  } catch (const std::exception& error) {
    // Without its window or its folders Norvale has nothing to offer; say
    // why and end.
    ::MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"Norvale",
                  MB_ICONERROR | MB_OK);
    return 1;
  }
}
