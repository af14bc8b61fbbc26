#include <windows.h>

#include <atomic>

#include "terminal/console_win.h"
#include "terminal/interrupt.h"
#include "terminal/run_in_terminal.h"

namespace norvale {
namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own. The first Ctrl+C only sets the flag, which
// the run looks at between shortcuts, where stopping is safe; a second one
// ends the program at once, for a run stuck in a call that does not return
// (a share that stopped answering). Copies appear whole or empty, so ending
// it at any moment loses none. Windows' own ending of it would report
// success under Wine, and run the C library's exit work while the stuck
// thread may hold its locks.
BOOL WINAPI OnInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (interrupted.exchange(true)) {
    ::TerminateProcess(::GetCurrentProcess(), kExitInterrupted);
  }
  return TRUE;
}

}  // namespace

void CatchInterrupt() {
  // Ctrl+C reaches only a program attached to the console it is pressed
  // in, which Norvale.exe is not yet when both its outputs are redirected.
  AttachToConsole();
  // A program started with Ctrl+C ignored (start /b, a new process group)
  // inherits that; as Windows' own console programs do, Norvale takes it.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(&OnInterrupt, TRUE);
}

bool Interrupted() { return interrupted; }

}  // namespace norvale
