// Test support under Wine: holds the desktop for a whole test run. Wine
// ends its desktop process a while after the last window closes; the next
// test to show a window then starts it again, handing it the test's own
// output, and the test runner waits for that output to close, so each
// window test took as long as the desktop's idle time, longer on a busy
// machine. Started before the tests, ended with the Wine session.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A window never shown keeps the desktop in use without taking the focus
  // from the windows under test.
  HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) return 1;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::DispatchMessageW(&message);
  }
  return 0;
}
