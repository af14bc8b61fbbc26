#include <windows.h>

#include <atomic>

#include "terminal/console_win.h"
#include "terminal/interrupt.h"

namespace norvale {
namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own; it only sets the flag, which the run looks
// at between shortcuts, where stopping is safe.
BOOL WINAPI OnInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  return TRUE;
}

}  // namespace

void CatchInterrupt() {
  // Ctrl+C reaches only a program attached to the console it is pressed
  // in, which Norvale.exe is not yet when both its outputs are redirected.
  AttachToConsole();
  ::SetConsoleCtrlHandler(&OnInterrupt, TRUE);
}

bool Interrupted() { return interrupted; }

}  // namespace norvale
