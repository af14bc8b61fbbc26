// Sizes for the dots per inch of a window's monitor, on every Windows.
#ifndef NORVALE_WINDOW_DPI_WIN_H_
#define NORVALE_WINDOW_DPI_WIN_H_

#include <windows.h>

// Returns user32's function `name`, or null on a Windows older than it.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// Returns the dots per inch of the monitor `hwnd` is on; older systems, and
// processes that are not per-monitor aware, have one for the whole screen.
UINT DpiOf(HWND hwnd);

// Returns a new font, the one dialogs and message boxes use, sized for
// `dpi`; the caller deletes it once nothing draws with it.
HFONT CreateDialogFont(UINT dpi);

// Returns the system metric `index`, as GetSystemMetrics does, for a monitor
// of `dpi`; older systems know it only for the whole screen.
int MetricForDpi(int index, UINT dpi);

#endif  // NORVALE_WINDOW_DPI_WIN_H_
