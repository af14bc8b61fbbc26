// Shows how a long compression run goes on Windows, and lets the user stop
// it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
#define NORVALE_WINDOW_RUN_PROGRESS_WIN_H_

#include <windows.h>

#include <functional>
#include <string>

#include "run/progress_report.h"

// Draws what a run on its own thread shows, in a window with Cancel; the run
// goes on meanwhile, so drawing never waits for it. While the window shows,
// its owner takes no input. Cancel, Escape and the close box ask the run to
// stop and leave the window up: it goes only with this object, once the run
// has ended. It is laid out for the dots per inch of its monitor, and again
// for another's when moved to it.
class RunProgressWin {
 public:
  // `cancel` is called when the user asks the run to stop.
  RunProgressWin(HWND owner, std::function<void()> cancel);
  ~RunProgressWin();
  RunProgressWin(const RunProgressWin&) = delete;
  RunProgressWin& operator=(const RunProgressWin&) = delete;

  // Shows `view`, opening the window the first time; if the system refuses
  // to create it, the run goes on without one.
  void Show(const norvale::ProgressReport::View& view);

  // Returns the progress window once it has been shown, else null.
  HWND window() const { return window_; }
  // Returns its Cancel button once shown, else null.
  HWND cancel_button() const { return cancel_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void Create();
  // Makes the font for `dpi` and lays the controls out in lines of it, in a
  // client area `width` wide, or as wide as suits the font when 0; returns
  // the client area they take.
  SIZE Layout(UINT dpi, int width);
  // Asks the run to stop, unless nothing can stop it any more.
  void Stop();

  HWND owner_;
  std::function<void()> cancel_run_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND cancel_ = nullptr;
  HFONT font_ = nullptr;  // Its own; deleted with the window.
  std::wstring label_text_;
  bool marquee_ = false;
  bool cancellable_ = true;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
