// Linked into a test build of Norvale.com: every read of a file blocks for
// a minute, as on a network share that stopped answering, so that a test
// can press Ctrl+C while a call blocks.
#include <windows.h>

#include "services/system_calls_win.h"

namespace {

const bool slowed = [] {
  norvale::Calls().read_file = [](HANDLE file, void* into, DWORD size,
                                  DWORD* got) {
    ::Sleep(60000);
    return ::ReadFile(file, into, size, got, nullptr);
  };
  return true;
}();

}  // namespace
