#include "window/run_progress_win.h"

#include <commctrl.h>

#include <utility>

#include "window/frm_norvale_win.h"

namespace {

constexpr wchar_t kWindowClass[] = L"NorvaleProgress";

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

  // A font of its own, as the owner deletes its font when it moves to a
  // monitor of other dots per inch; sizes in its line height, so the window
  // suits the owner's resolution.
  if (font_ == nullptr) font_ = CreateDialogFont(DpiOf(owner_));
  const HFONT font =
      font_ != nullptr ? font_
                       : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  const HDC dc = ::GetDC(owner_);
  const HGDIOBJ old_font = ::SelectObject(dc, font);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old_font);
  ::ReleaseDC(owner_, dc);
  const int line = metrics.tmHeight > 0 ? metrics.tmHeight : 13;
  const int margin = line * 3 / 4;
  const int width = line * 25;
  const int label_height = 2 * line + 2;
  const int bar_top = margin + label_height + margin / 2;
  const int bar_height = line + 2;
  const int button_width = line * 6;
  const int button_height = 2 * line - 3;
  const int button_top = bar_top + bar_height + margin;
  const int height = button_top + button_height + margin;

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame = {0, 0, width, height};
  ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  RECT owner_rect;
  ::GetWindowRect(owner_, &owner_rect);
  const int outer_width = frame.right - frame.left;
  const int outer_height = frame.bottom - frame.top;
  window_ = ::CreateWindowExW(
      WS_EX_DLGMODALFRAME, kWindowClass, L"Norvale", style,
      (owner_rect.left + owner_rect.right - outer_width) / 2,
      (owner_rect.top + owner_rect.bottom - outer_height) / 2, outer_width,
      outer_height, owner_, nullptr, instance, nullptr);
  if (window_ == nullptr) return;  // The run goes on without it.
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  label_ = ::CreateWindowExW(0, L"STATIC", L"",
                             WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                             margin, margin, width - 2 * margin, label_height,
                             window_, nullptr, instance, nullptr);
  bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE,
                           margin, bar_top, width - 2 * margin, bar_height,
                           window_, nullptr, instance, nullptr);
  cancel_ = ::CreateWindowExW(
      0, L"BUTTON", L"Cancel",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
      width - margin - button_width, button_top, button_width, button_height,
      window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)),
      instance, nullptr);
  for (HWND control : {label_, cancel_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  // Modal: the owner takes no input while the run goes on.
  ::EnableWindow(owner_, FALSE);
  ::ShowWindow(window_, SW_SHOW);
  ::SetFocus(cancel_);
}

void RunProgressWin::Show(const norvale::ProgressReport::View& view) {
  if (window_ == nullptr) Create();
  if (window_ == nullptr) return;
  // While the copies are flushed, nothing can stop the run.
  cancellable_ = view.cancellable;
  ::EnableWindow(cancel_, view.cancellable);
  // Set only when it changes, as the label flickers each time it is set.
  const std::wstring label = WideFromUtf8(view.label);
  if (label != label_text_) {
    ::SetWindowTextW(label_, label.c_str());
    label_text_ = label;
  }
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
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}
