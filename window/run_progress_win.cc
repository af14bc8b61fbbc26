#include "window/run_progress_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <utility>

#include "services/win/utf16.h"
#include "window/dpi_win.h"

namespace {

constexpr wchar_t kWindowClass[] = L"NorvaleProgress";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr wchar_t kCancel[] = L"Cancel";

}  // namespace

RunProgressWin::RunProgressWin(HWND owner, std::function<void()> cancel)
    : owner_(owner), cancel_run_(std::move(cancel)) {}

RunProgressWin::~RunProgressWin() {
  if (window_ != nullptr) {
    // The owner first, so that it, not some other program, is activated
    // when the progress window goes.
    ::EnableWindow(owner_, TRUE);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  if (font_ != nullptr) ::DeleteObject(font_);
}

void RunProgressWin::Create() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  if (!::GetClassInfoExW(instance, kWindowClass, &window_class)) {
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &RunProgressWin::WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kWindowClass;
    ::RegisterClassExW(&window_class);
  }

  // Opened at the middle of the owner, so that it takes the dots per inch of
  // the monitor it will show on, and sized for them once it has.
  RECT owner_rect;
  ::GetWindowRect(owner_, &owner_rect);
  const int middle_x = (owner_rect.left + owner_rect.right) / 2;
  const int middle_y = (owner_rect.top + owner_rect.bottom) / 2;
  window_ =
      ::CreateWindowExW(kExStyle, kWindowClass, L"Norvale", kStyle, middle_x,
                        middle_y, 0, 0, owner_, nullptr, instance, nullptr);
  if (window_ == nullptr) return;  // The run goes on without it.
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  label_ = ::CreateWindowExW(0, L"STATIC", label_text_.c_str(),
                             WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                             0, 0, 0, window_, nullptr, instance, nullptr);
  bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0,
                           0, 0, window_, nullptr, instance, nullptr);
  cancel_ = ::CreateWindowExW(
      0, L"BUTTON", kCancel, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
      0, 0, 0, 0, window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), instance,
      nullptr);
  const UINT dpi = DpiOf(window_);
  const SIZE client = Layout(dpi, 0);
  // The frame of that monitor, whose caption may be taller than the
  // screen's.
  static const auto adjust_for_dpi =
      User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>(
          "AdjustWindowRectExForDpi");
  RECT frame = {0, 0, client.cx, client.cy};
  if (adjust_for_dpi == nullptr ||
      !adjust_for_dpi(&frame, kStyle, FALSE, kExStyle, dpi)) {
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(window_, nullptr, middle_x - width / 2, middle_y - height / 2,
                 width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  // Modal: the owner takes no input while the run goes on.
  ::EnableWindow(owner_, FALSE);
  ::ShowWindow(window_, SW_SHOW);
  ::SetFocus(cancel_);
}

SIZE RunProgressWin::Layout(UINT dpi, int width) {
  // A font of its own, as the owner deletes its font when it moves to a
  // monitor of other dots per inch; every size is in lines of it.
  const HFONT old_font = font_;
  font_ = CreateDialogFont(dpi);
  if (font_ == nullptr) {
    font_ = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }
  const HDC dc = ::GetDC(window_);
  const HGDIOBJ dc_font = ::SelectObject(dc, font_);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(dc, &metrics);
  const int line = metrics.tmHeight > 0 ? metrics.tmHeight : 13;
  const int margin = line * 3 / 4;
  if (width <= 0) width = line * 25;
  // Two lines, or more should the caption wrap to more.
  RECT caption = {0, 0, width - 2 * margin, 0};
  ::DrawTextW(dc, label_text_.c_str(), -1, &caption,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  const int label_height = std::max<int>(2 * line + 2, caption.bottom);
  // As wide as six lines, or as Cancel inside the button's edges.
  SIZE cancel = {};
  ::GetTextExtentPoint32W(dc, kCancel, static_cast<int>(wcslen(kCancel)),
                          &cancel);
  const int button_width = std::max<int>(
      line * 6, cancel.cx + 2 * (MetricForDpi(SM_CXEDGE, dpi) + 3));
  ::SelectObject(dc, dc_font);
  ::ReleaseDC(window_, dc);

  const int bar_top = margin + label_height + margin / 2;
  const int bar_height = line + 2;
  const int button_height = 2 * line - 3;
  const int button_top = bar_top + bar_height + margin;
  ::MoveWindow(label_, margin, margin, width - 2 * margin, label_height, TRUE);
  ::MoveWindow(bar_, margin, bar_top, width - 2 * margin, bar_height, TRUE);
  ::MoveWindow(cancel_, width - margin - button_width, button_top, button_width,
               button_height, TRUE);
  for (HWND control : {label_, cancel_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  }
  if (old_font != nullptr) ::DeleteObject(old_font);
  return {width, button_top + button_height + margin};
}

void RunProgressWin::Show(const norvale::ProgressReport::View& view) {
  // Set only when it changes, as the label flickers each time it is set;
  // the first is set before the window opens, to be measured.
  const std::wstring label = norvale::WideFromUtf8(view.label);
  if (window_ == nullptr) {
    label_text_ = label;
    Create();
    if (window_ == nullptr) return;
  } else if (label != label_text_) {
    ::SetWindowTextW(label_, label.c_str());
    label_text_ = label;
  }
  // While the copies are flushed, nothing can stop the run.
  cancellable_ = view.cancellable;
  ::EnableWindow(cancel_, view.cancellable);
  const bool marquee = view.maximum == 0;
  if (marquee != marquee_) {
    const LONG_PTR style = ::GetWindowLongPtrW(bar_, GWL_STYLE);
    ::SetWindowLongPtrW(bar_, GWL_STYLE,
                        marquee ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    ::SendMessageW(bar_, PBM_SETMARQUEE, marquee, 30);
    marquee_ = marquee;
  }
  if (!marquee) {
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, view.maximum);
    ::SendMessageW(bar_, PBM_SETPOS, view.value, 0);
  }
}

void RunProgressWin::Stop() {
  if (cancellable_) cancel_run_();
}

LRESULT CALLBACK RunProgressWin::WindowProc(HWND hwnd, UINT message,
                                            WPARAM wparam, LPARAM lparam) {
  auto* progress = reinterpret_cast<RunProgressWin*>(
      ::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (progress != nullptr) {
    // Cancel, Escape and the close box all ask the run to stop; the window
    // itself goes when the run is over, which a disk that does not answer
    // can keep waiting for.
    if ((message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) ||
        message == WM_CLOSE) {
      progress->Stop();
      return 0;
    }
    if (message == WM_DPICHANGED) {
      // Moved to a monitor of other dots per inch: the system's rectangle,
      // which keeps it from moving back and forth at a monitor's edge, and
      // a new font and layout inside it.
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left,
                     suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      RECT client;
      ::GetClientRect(hwnd, &client);
      progress->Layout(HIWORD(wparam), client.right);
      return 0;
    }
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}
