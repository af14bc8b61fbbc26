// Shows how a long compression run goes on Windows, and lets the user stop
// it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
#define NORVALE_WINDOW_RUN_PROGRESS_WIN_H_

#include <windows.h>

#include <chrono>
#include <string>

#include "run/progress_report.h"

// Draws what the run's progress report shows in a window with Cancel,
// handling the messages waiting each time it does. While it shows, its
// owner takes no input.
class RunProgressWin : public norvale::ProgressReport {
 public:
  explicit RunProgressWin(
      HWND owner,
      std::chrono::milliseconds show_after = std::chrono::milliseconds(500),
      std::chrono::milliseconds show_every = std::chrono::milliseconds(50));
  ~RunProgressWin() override;
  RunProgressWin(const RunProgressWin&) = delete;
  RunProgressWin& operator=(const RunProgressWin&) = delete;

  // Returns the progress window once it has been shown, else null.
  HWND window() const { return window_; }
  // Returns its Cancel button once shown, else null.
  HWND cancel_button() const { return cancel_; }

 protected:
  // Shows the window if needed, then handles the messages waiting; returns
  // false once the user has pressed Cancel.
  bool Show(const View& view) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void Create();

  HWND owner_;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND cancel_ = nullptr;
  HFONT font_ = nullptr;  // Its own; deleted with the window.
  bool marquee_ = false;
  bool cancelled_ = false;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
