// Shows how a long compression run goes on Windows, and lets the user stop
// it.
#ifndef NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
#define NORVALE_WINDOW_RUN_PROGRESS_WIN_H_

#include <windows.h>

#include <string>

#include "run/compression_run.h"

// Runs on the window's thread inside the run. A short run sees nothing: the
// progress window appears only once the run has taken `show_after_ms`, and
// from then on the messages waiting are handled at most every
// `paint_every_ms`, never once per file. While it shows, its owner takes no
// input.
class RunProgressWin : public norvale::RunObserver {
 public:
  RunProgressWin(HWND owner, DWORD show_after_ms = 500,
                 DWORD paint_every_ms = 50);
  ~RunProgressWin() override;
  RunProgressWin(const RunProgressWin&) = delete;
  RunProgressWin& operator=(const RunProgressWin&) = delete;

  bool Searching(size_t looked_at, size_t found) override;
  bool Compressing(size_t done, size_t total) override;
  void Flushing() override;

  // Returns the progress window once it has been shown, else null.
  HWND window() const { return window_; }
  // Returns its Cancel button once shown, else null.
  HWND cancel_button() const { return cancel_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  // Returns false when it is not yet time to show or paint.
  bool Due();
  // Shows the window if needed, then handles the messages waiting; returns
  // false once the user has pressed Cancel. A `maximum` of 0 shows a bar
  // that only tells that work goes on.
  bool Update(const std::wstring& label, int maximum, int value);
  void Create();

  HWND owner_;
  DWORD show_after_ms_;
  DWORD paint_every_ms_;
  DWORD start_;
  DWORD last_paint_ = 0;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND cancel_ = nullptr;
  bool marquee_ = false;
  bool cancelled_ = false;
};

#endif  // NORVALE_WINDOW_RUN_PROGRESS_WIN_H_
