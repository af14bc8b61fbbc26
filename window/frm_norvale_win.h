// The main window on Windows' own controls: what Norvale does, the two
// folder fields and the button that starts a compression run.
#ifndef NORVALE_WINDOW_FRM_NORVALE_WIN_H_
#define NORVALE_WINDOW_FRM_NORVALE_WIN_H_

#include <windows.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "terminal/command_line.h"
#include "window/layout.h"

namespace norvale {
class BackgroundRun;
}
class RunProgressWin;

class frmNorvale {
 public:
  // Shows a message box and returns the button pressed, as MessageBoxW does;
  // tests put their own in its place so that nothing waits for a user.
  using MessageBoxFunction =
      std::function<int(HWND owner, const std::wstring& text,
                        const std::wstring& title, UINT type)>;
  // Has the shell offer completions while the user types in a field, as
  // SHAutoComplete does; tests put their own in its place, as Wine's does
  // nothing.
  using AutoCompleteFunction = std::function<HRESULT(HWND field, DWORD flags)>;

  // Creates the window with its six controls placed, still hidden.
  // Throws norvale::Error when the system refuses to create them.
  explicit frmNorvale(HINSTANCE instance,
                      MessageBoxFunction message_box = nullptr,
                      const AutoCompleteFunction& auto_complete = nullptr);
  ~frmNorvale();
  frmNorvale(const frmNorvale&) = delete;
  frmNorvale& operator=(const frmNorvale&) = delete;

  // Fills txtSource with the Favorites folder and txtDest with
  // "\Compressed Favorites" after the desktop folder, then with the folders
  // `command` gives in their place; throws norvale::Error when either
  // default folder cannot be found or a field cannot be set.
  void Form_Load(const norvale::CommandLine& command = {});

  // Shows the window in the middle of its monitor, with the focus in
  // txtSource.
  void Show(int show_command);

  // Dispatches messages until the window is closed; returns the exit code.
  int RunMessageLoop();

  // Returns the window, which owns the others Norvale shows.
  HWND hwnd() const { return hwnd_; }

 private:
  // Its tests look at the controls and shorten the progress delay.
  friend class FrmNorvaleWinTest;

  // Runs one compression from txtSource to txtDest on a thread of its own,
  // handling the window's messages until it ends, with a progress window if
  // it takes long, and reports how it went in a message box; never throws:
  // a failure is shown and the window stays open.
  void cmdGo_Click();

  // Returns the folder a run would take from `field` (txtSource or txtDest).
  std::filesystem::path FieldPath(HWND field) const;
  // Puts `path` in `field` (txtSource or txtDest); throws norvale::Error
  // when that fails.
  void SetFieldPath(HWND field, const std::filesystem::path& path);

  // Returns the control that stands for `control` in the table.
  HWND ControlFor(const norvale::layout::Control& control) const {
    return controls_[control.tab_index];
  }
  // Returns the rectangle of `control` in pixels of the client area, as the
  // table, the scale and the dots per inch give it.
  norvale::layout::Rect PixelRect(
      const norvale::layout::Control& control) const;
  // Returns whether the caption of `control` shows in full in `box`, in
  // pixels of the window's font.
  bool CaptionFits(const norvale::layout::Control& control,
                   const norvale::layout::Rect& box) const;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  // Takes a folder or file dropped on either field.
  static LRESULT CALLBACK FieldProc(HWND field, UINT message, WPARAM wparam,
                                    LPARAM lparam, UINT_PTR id, DWORD_PTR data);
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  // Takes the dialog font for `dpi`, picks the scale at which every caption
  // fits, and places the controls and sizes the client area by it.
  void PlaceControls(UINT dpi);
  // Returns `box`, in device-independent pixels, in pixels at dpi_.
  norvale::layout::Rect ToDevice(const norvale::layout::Rect& box) const;
  // Hands `message` to the dialog manager of `dialog` for Tab, Enter and
  // Escape, else to its window.
  static void Dispatch(MSG& message, HWND dialog);

  HINSTANCE instance_;
  MessageBoxFunction message_box_;
  // The controls in the table's order, and each by its own name.
  std::array<HWND, 6> controls_ = {};
  HWND Label1 = nullptr;
  HWND Label2 = nullptr;
  HWND Label3 = nullptr;
  HWND txtSource = nullptr;
  HWND txtDest = nullptr;
  HWND cmdGo = nullptr;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  double scale_ = 1.0;
  // The control that had the focus when the window was last deactivated.
  HWND last_focus_ = nullptr;
  bool running_ = false;
  // How long a run goes before its progress is shown.
  std::chrono::milliseconds progress_after_{500};
  // While a run goes on: the run, and the progress window that draws it.
  const norvale::BackgroundRun* run_ = nullptr;
  RunProgressWin* progress_ = nullptr;
  bool com_ = false;
};

#endif  // NORVALE_WINDOW_FRM_NORVALE_WIN_H_
