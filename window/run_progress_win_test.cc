// Tests of the progress window on Windows, owned by a real main window.
#include "window/run_progress_win.h"

#include <gtest/gtest.h>

#include <limits>

#include "window/frm_norvale_win.h"

namespace {

TEST(RunProgressWinTest, AShortRunSeesNothing) {
  frmNorvale form(::GetModuleHandleW(nullptr));
  RunProgressWin progress(form.hwnd(), 60000, 0);
  EXPECT_TRUE(progress.Searching(1));
  EXPECT_TRUE(progress.Compressing(1, 2));
  EXPECT_EQ(progress.window(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(form.hwnd()));
}

TEST(RunProgressWinTest, HoldsTheWindowUntilTheRunEndsOrIsCancelled) {
  // Each way the user can stop the run, posted as the user would give it.
  const struct {
    const char* how;
    UINT message;
    WPARAM wparam;
    bool to_button;
  } cases[] = {
      {"Cancel pressed", BM_CLICK, 0, true},
      {"Escape", WM_KEYDOWN, VK_ESCAPE, true},
      {"close box", WM_CLOSE, 0, false},
  };
  for (const auto& c : cases) {
    frmNorvale form(::GetModuleHandleW(nullptr));
    form.Show(SW_SHOWNORMAL);
    {
      RunProgressWin progress(form.hwnd(), 0, 0);
      EXPECT_TRUE(progress.Searching(5)) << c.how;
      ASSERT_NE(progress.window(), nullptr) << c.how;
      EXPECT_TRUE(::IsWindowVisible(progress.window())) << c.how;
      EXPECT_FALSE(::IsWindowEnabled(form.hwnd())) << c.how;
      // More files than a progress bar counts.
      const size_t huge = size_t{std::numeric_limits<int>::max()} * 2;
      EXPECT_TRUE(progress.Compressing(huge / 2, huge)) << c.how;

      ::PostMessageW(c.to_button ? progress.cancel_button() : progress.window(),
                     c.message, c.wparam, 0);
      EXPECT_FALSE(progress.Compressing(2, 3)) << c.how;
      EXPECT_FALSE(progress.Compressing(3, 3)) << c.how;
      EXPECT_TRUE(::IsWindow(progress.window())) << c.how;
    }
    EXPECT_TRUE(::IsWindowEnabled(form.hwnd())) << c.how;
  }
}

}  // namespace
