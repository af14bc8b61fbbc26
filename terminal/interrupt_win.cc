#include <windows.h>

#include <atomic>

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

void CatchInterrupt() { ::SetConsoleCtrlHandler(&OnInterrupt, TRUE); }

bool Interrupted() { return interrupted; }

}  // namespace norvale
