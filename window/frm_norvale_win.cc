#include "window/frm_norvale_win.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "run/background_run.h"
#include "run/folder_field.h"
#include "run/run_report.h"
#include "services/error.h"
#include "services/win/utf16.h"
#include "window/dpi_win.h"
#include "window/run_progress_win.h"

namespace layout = norvale::layout;

namespace {

constexpr wchar_t kWindowClass[] = L"NorvaleWindow";
// Control ids start clear of IDOK and IDCANCEL, which the dialog manager
// sends for Enter and Escape: neither may start a run.
constexpr int kFirstControlId = 100;
// The window cannot be resized; it only looks like a dialog.
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Posted by a run's thread once the run has ended, to wake the window's.
constexpr UINT kRunEnded = WM_APP;
// Draws a run's progress, every 50 ms whatever the run does.
constexpr UINT_PTR kDrawTimer = 1;

// Returns the text `hwnd` shows.
std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd)) + 1,
                    L'\0');
  text.resize(static_cast<size_t>(
      ::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

frmNorvale::frmNorvale(HINSTANCE instance, MessageBoxFunction message_box,
                       const AutoCompleteFunction& auto_complete)
    : instance_(instance), message_box_(std::move(message_box)) {
  if (!message_box_) {
    message_box_ = [](HWND owner, const std::wstring& text,
                      const std::wstring& title, UINT type) {
      return ::MessageBoxW(owner, text.c_str(), title.c_str(), type);
    };
  }
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  if (!::GetClassInfoExW(instance_, kWindowClass, &window_class)) {
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &frmNorvale::WindowProc;
    window_class.hInstance = instance_;
    window_class.hIcon = ::LoadIconW(instance_, L"NORVALE");
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&window_class)) {
      throw norvale::WindowsError("Could not create the window", "",
                                  ::GetLastError());
    }
  }
  hwnd_ = ::CreateWindowExW(0, kWindowClass, L"Norvale", kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr,
                            nullptr, instance_, this);
  if (hwnd_ == nullptr) {
    throw norvale::WindowsError("Could not create the window", "",
                                ::GetLastError());
  }
  // In tab order, which for the dialog manager is the order of creation.
  for (const layout::Control& control : layout::Controls()) {
    const std::wstring text = norvale::WideFromUtf8(control.text);
    const auto id = reinterpret_cast<HMENU>(
        static_cast<INT_PTR>(kFirstControlId + control.tab_index));
    HWND hwnd = nullptr;
    switch (control.kind) {
      case layout::Kind::kLabel:
        // No prefix: an "&" never becomes an access key. Labels wrap at
        // word boundaries, and take no focus.
        hwnd = ::CreateWindowExW(0, L"STATIC", text.c_str(),
                                 WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                 0, 0, 0, 0, hwnd_, id, instance_, nullptr);
        break;
      case layout::Kind::kTextBox:
        hwnd = ::CreateWindowExW(
            WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 0, 0,
            0, 0, hwnd_, id, instance_, nullptr);
        break;
      case layout::Kind::kButton:
        // A plain push button: Enter in a field must not start a run.
        hwnd = ::CreateWindowExW(
            0, L"BUTTON", text.c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
            hwnd_, id, instance_, nullptr);
        break;
    }
    if (hwnd == nullptr) {
      throw norvale::WindowsError("Could not create the window", "",
                                  ::GetLastError());
    }
    controls_[control.tab_index] = hwnd;
  }
  Label1 = controls_[layout::kLabel1];
  Label2 = controls_[layout::kLabel2];
  Label3 = controls_[layout::kLabel3];
  txtSource = controls_[layout::kTxtSource];
  txtDest = controls_[layout::kTxtDest];
  cmdGo = controls_[layout::kCmdGo];
  // A screen reader names each field after the label just before it in the
  // child order, which the table's order gives. The shell's completion needs
  // COM on this thread; it only suggests, nothing is checked while the user
  // types.
  com_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  for (const HWND field : {txtSource, txtDest}) {
    if (auto_complete) {
      auto_complete(field, SHACF_FILESYS_DIRS);
    } else {
      ::SHAutoComplete(field, SHACF_FILESYS_DIRS);
    }
    ::DragAcceptFiles(field, TRUE);
    ::SetWindowSubclass(field, &frmNorvale::FieldProc, 0, 0);
  }
  PlaceControls(DpiOf(hwnd_));
}

frmNorvale::~frmNorvale() {
  if (hwnd_ != nullptr) {
    // Destroyed by its owner rather than closed by the user: the program
    // goes on, so the window must not ask it to end.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
  }
  if (font_ != nullptr) ::DeleteObject(font_);
  if (com_) ::CoUninitialize();
}

LRESULT CALLBACK frmNorvale::FieldProc(HWND field, UINT message, WPARAM wparam,
                                       LPARAM lparam, UINT_PTR, DWORD_PTR) {
  if (message == WM_DROPFILES) {
    // A dropped folder goes in the field as it is, a dropped file as its
    // folder.
    const auto drop = reinterpret_cast<HDROP>(wparam);
    std::wstring path(::DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
    path.resize(
        ::DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
    ::DragFinish(drop);
    if (!path.empty()) {
      ::SetWindowTextW(field, norvale::DroppedFolder(path).c_str());
    }
    return 0;
  }
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(field, &frmNorvale::FieldProc, 0);
  }
  return ::DefSubclassProc(field, message, wparam, lparam);
}

layout::Rect frmNorvale::ToDevice(const layout::Rect& box) const {
  // Edges, not sizes, are scaled, so edges that line up still do.
  const int dpi = static_cast<int>(dpi_);
  const int left = ::MulDiv(box.left, dpi, 96);
  const int top = ::MulDiv(box.top, dpi, 96);
  return {left, top, ::MulDiv(box.right(), dpi, 96) - left,
          ::MulDiv(box.bottom(), dpi, 96) - top};
}

layout::Rect frmNorvale::PixelRect(const layout::Control& control) const {
  return ToDevice(layout::ScaleRect(control.twips, scale_));
}

bool frmNorvale::CaptionFits(const layout::Control& control,
                             const layout::Rect& box) const {
  const HDC dc = ::GetDC(hwnd_);
  const HGDIOBJ old_font = ::SelectObject(dc, font_);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(dc, &metrics);
  const std::wstring text = norvale::WideFromUtf8(control.text);
  // Edges as drawn on the window's monitor.
  const int edge_x = MetricForDpi(SM_CXEDGE, dpi_);
  const int edge_y = MetricForDpi(SM_CYEDGE, dpi_);
  bool fits = false;
  switch (control.kind) {
    case layout::Kind::kLabel: {
      // Measured as the label draws it: wrapped at word boundaries in its
      // width, which a word too long for the line still overflows.
      RECT needed = {0, 0, box.width, 0};
      ::DrawTextW(dc, text.c_str(), -1, &needed,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT);
      fits = needed.right <= box.width && needed.bottom <= box.height;
      break;
    }
    case layout::Kind::kTextBox:
      // A field's width is for the user's text; one line must fit inside
      // the sunken edge and the field's own margin of a pixel.
      fits = metrics.tmHeight + 2 * edge_y + 2 <= box.height;
      break;
    case layout::Kind::kButton: {
      // The caption, inside the raised edge and the focus rectangle.
      SIZE size = {};
      ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()),
                              &size);
      fits = size.cx + 2 * (edge_x + 3) <= box.width &&
             metrics.tmHeight + 2 * (edge_y + 2) <= box.height;
      break;
    }
  }
  ::SelectObject(dc, old_font);
  ::ReleaseDC(hwnd_, dc);
  return fits;
}

void frmNorvale::PlaceControls(UINT dpi) {
  dpi_ = dpi;
  const HFONT old_font = font_;
  font_ = CreateDialogFont(dpi_);
  scale_ = layout::ChooseScale(
      [this](const layout::Control& control, layout::Rect box) {
        return CaptionFits(control, ToDevice(box));
      });
  for (const layout::Control& control : layout::Controls()) {
    const HWND hwnd = ControlFor(control);
    const layout::Rect box = PixelRect(control);
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    ::MoveWindow(hwnd, box.left, box.top, box.width, box.height, TRUE);
  }
  if (old_font != nullptr) ::DeleteObject(old_font);

  // The frame's size is whatever the system makes it at this moment; only
  // the client area is the layout's.
  const layout::Rect client = ToDevice(layout::ClientRect(scale_));
  RECT window_rect;
  RECT client_rect;
  ::GetWindowRect(hwnd_, &window_rect);
  ::GetClientRect(hwnd_, &client_rect);
  const int frame_width = (window_rect.right - window_rect.left) -
                          (client_rect.right - client_rect.left);
  const int frame_height = (window_rect.bottom - window_rect.top) -
                           (client_rect.bottom - client_rect.top);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, client.width + frame_width,
                 client.height + frame_height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmNorvale::Form_Load(const norvale::CommandLine& command) {
  const norvale::DefaultFolders folders = norvale::FindDefaultFolders();
  SetFieldPath(txtSource,
               command.source.empty() ? folders.source : command.source);
  SetFieldPath(txtDest, command.destination.empty() ? folders.destination
                                                    : command.destination);
}

std::filesystem::path frmNorvale::FieldPath(HWND field) const {
  return std::filesystem::path(WindowText(field));
}

void frmNorvale::SetFieldPath(HWND field, const std::filesystem::path& path) {
  if (!::SetWindowTextW(field, path.c_str())) {
    throw norvale::WindowsError("Could not show the folder", path,
                                ::GetLastError());
  }
}

void frmNorvale::cmdGo_Click() {
  // The window goes on drawing while the run works; one run at a time.
  if (running_) return;
  running_ = true;
  // From the press until the run ends the window takes no input, as under
  // the progress window that shows only later: keys and clicks would
  // otherwise change the fields beside a run that has already read them.
  // Disabled, it looks as before but loses the focus, which is given back.
  const HWND focus = ::GetFocus();
  ::EnableWindow(hwnd_, FALSE);
  norvale::Message message;
  bool quit = false;
  int exit_code = 0;
  {
    const HWND form = hwnd_;
    norvale::BackgroundRun run(
        FieldPath(txtSource), FieldPath(txtDest),
        [form] { ::PostMessageW(form, kRunEnded, 0, 0); }, progress_after_);
    RunProgressWin progress(hwnd_, [&run] { run.Cancel(); });
    run_ = &run;
    progress_ = &progress;
    ::SetTimer(hwnd_, kDrawTimer, 50, nullptr);
    // Woken by the run's message, or by the timer should posting it fail.
    MSG waiting;
    while (!run.ended()) {
      if (::GetMessageW(&waiting, nullptr, 0, 0) <= 0) {
        // The program is asked to end: stop the run, and leave the request
        // for the main loop.
        quit = true;
        exit_code = static_cast<int>(waiting.wParam);
        run.Cancel();
        continue;
      }
      // Only the progress window, once shown, has Tab and Escape.
      Dispatch(waiting, progress.window());
    }
    ::KillTimer(hwnd_, kDrawTimer);
    run_ = nullptr;
    progress_ = nullptr;
    message = run.outcome();
  }  // The progress window closes before the outcome is shown.
  running_ = false;
  ::EnableWindow(hwnd_, TRUE);
  // Given back now, or when the user comes back to the window.
  if (focus != nullptr && ::IsChild(hwnd_, focus)) {
    last_focus_ = focus;
    if (::GetActiveWindow() == hwnd_) ::SetFocus(focus);
  }
  if (quit) ::PostQuitMessage(exit_code);
  message_box_(
      hwnd_, norvale::WideFromUtf8(message.text), norvale::WideFromUtf8(message.title),
      MB_OK | (message.icon == norvale::Message::Icon::kError ? MB_ICONERROR
               : message.icon == norvale::Message::Icon::kWarning
                   ? MB_ICONWARNING
                   : MB_ICONINFORMATION));
}

void frmNorvale::Show(int show_command) {
  // First seen in the middle of the working area of its monitor.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  RECT window_rect;
  if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY),
                        &monitor) &&
      ::GetWindowRect(hwnd_, &window_rect)) {
    const RECT& work = monitor.rcWork;
    const int width = window_rect.right - window_rect.left;
    const int height = window_rect.bottom - window_rect.top;
    ::SetWindowPos(hwnd_, nullptr,
                   work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::ShowWindow(hwnd_, show_command);
  ::UpdateWindow(hwnd_);
  ::SetFocus(txtSource);
}

int frmNorvale::RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message, hwnd_);
  return static_cast<int>(message.wParam);
}

void frmNorvale::Dispatch(MSG& message, HWND dialog) {
  // The dialog manager moves the focus with Tab and Shift+Tab, and turns
  // Escape into the progress window's Cancel.
  if (dialog != nullptr && ::IsDialogMessageW(dialog, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

LRESULT CALLBACK frmNorvale::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    auto* form = static_cast<frmNorvale*>(create->lpCreateParams);
    form->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form =
      reinterpret_cast<frmNorvale*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  return form->HandleMessage(hwnd, message, wparam, lparam);
}

LRESULT frmNorvale::HandleMessage(HWND hwnd, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == ::GetDlgCtrlID(cmdGo) &&
          HIWORD(wparam) == BN_CLICKED) {
        cmdGo_Click();
      }
      // IDOK and IDCANCEL, from Enter and Escape, do nothing.
      return 0;
    case WM_ACTIVATE:
      // Coming back to the window returns the focus to where it was.
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(hwnd_, focus)) last_focus_ = focus;
      } else if (last_focus_ != nullptr) {
        ::SetFocus(last_focus_);
        return 0;
      }
      break;
    case WM_DPICHANGED: {
      // Moved to a monitor with other dots per inch: lay out afresh there.
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left,
                     suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      PlaceControls(HIWORD(wparam));
      return 0;
    }
    case WM_TIMER:
      if (wparam == kDrawTimer && run_ != nullptr) {
        if (const auto view = run_->Now()) progress_->Show(*view);
        return 0;
      }
      break;
    case WM_SETCURSOR:
      // Before a run's progress shows, nothing tells why the window takes
      // no input: the cursor says that work goes on, and a click is refused
      // without the beep of a window under a modal one.
      if (running_ &&
          (progress_ == nullptr || progress_->window() == nullptr) &&
          (LOWORD(lparam) == HTCLIENT ||
           static_cast<SHORT>(LOWORD(lparam)) == HTERROR)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // A run in progress is stopped with Cancel, not by closing under it.
      if (running_) return 0;
      break;
    case WM_DESTROY:
      // Closing the one window ends the program.
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      break;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}
