#include "window/dpi_win.h"

UINT DpiOf(HWND hwnd) {
  static const auto get_dpi_for_window =
      User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (get_dpi_for_window != nullptr) {
    const UINT dpi = get_dpi_for_window(hwnd);
    if (dpi != 0) return dpi;
  }
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HFONT CreateDialogFont(UINT dpi) {
  // The font as the system sizes it for that monitor, where it can; older
  // systems size it only for the screen's dots per inch at start.
  static const auto parameters_for_dpi =
      User32Function<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>(
          "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (parameters_for_dpi != nullptr &&
      parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                         dpi)) {
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics),
                               &metrics, 0)) {
    return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }
  // The metrics are for the screen's dots per inch at start; the window's
  // monitor may have others.
  const HDC screen = ::GetDC(nullptr);
  const int screen_dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  LOGFONTW font = metrics.lfMessageFont;
  font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi),
                           screen_dpi > 0 ? screen_dpi : 96);
  return ::CreateFontIndirectW(&font);
}

int MetricForDpi(int index, UINT dpi) {
  static const auto metrics_for_dpi =
      User32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
  return metrics_for_dpi != nullptr ? metrics_for_dpi(index, dpi)
                                    : ::GetSystemMetrics(index);
}
