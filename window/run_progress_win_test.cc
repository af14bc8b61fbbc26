// Tests of the progress window on Windows, owned by a real main window.
#include "window/run_progress_win.h"

#include <gtest/gtest.h>

#include <tuple>

#include "window/frm_norvale_win.h"

namespace {

// A long run shows the window and holds its owner until the run ends, and
// each way the user can stop it, posted as the user would give it, stops it.
TEST(RunProgressWinTest, HoldsTheWindowUntilTheRunEndsOrIsCancelled) {
  const std::tuple<const char*, UINT, WPARAM, bool> stops[] = {
      {"Cancel pressed", BM_CLICK, 0, true},
      {"Escape", WM_KEYDOWN, VK_ESCAPE, true},
      {"close box", WM_CLOSE, 0, false},
  };
  for (const auto& [how, message, wparam, to_button] : stops) {
    SCOPED_TRACE(how);
    frmNorvale form(::GetModuleHandleW(nullptr));
    form.Show(SW_SHOWNORMAL);
    {
      RunProgressWin progress(form.hwnd(), std::chrono::milliseconds(0),
                              std::chrono::milliseconds(0));
      EXPECT_TRUE(progress.Searching(5, 5));
      ASSERT_NE(progress.window(), nullptr);
      EXPECT_TRUE(::IsWindowVisible(progress.window()));
      EXPECT_FALSE(::IsWindowEnabled(form.hwnd()));
      ::PostMessageW(to_button ? progress.cancel_button() : progress.window(),
                     message, wparam, 0);
      EXPECT_FALSE(progress.Compressing(2, 3));
      EXPECT_TRUE(::IsWindow(progress.window()));
    }
    EXPECT_TRUE(::IsWindowEnabled(form.hwnd()));
  }
}

}  // namespace
