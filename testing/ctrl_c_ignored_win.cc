// Linked into a test build of Norvale.com: it starts with Ctrl+C ignored, as
// a program started by start /b, a service or a scheduler inherits it on
// Windows. Wine passes the setting on too, but then keeps it whatever the
// program asks, so the test sets it here, where the program can take it
// back as on Windows.
#include <windows.h>

namespace {

const bool ignored = [] { return ::SetConsoleCtrlHandler(nullptr, TRUE); }();

}  // namespace
