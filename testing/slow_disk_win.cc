// Linked into a test build of Norvale.com: every read of a file blocks for
// a minute, as on a network share that stopped answering, so that a test
// can press Ctrl+C while a call blocks. The file "blocked" appears in the
// working folder when the first read starts blocking.
#include <windows.h>

#include "services/win/system_calls.h"

namespace {

const bool slowed = [] {
  norvale::Calls().read_file = [](HANDLE file, void* into, DWORD size,
                                  DWORD* got) {
    HANDLE blocked =
        ::CreateFileW(L"blocked", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(blocked, "now\n", 4, &written, nullptr);
    ::CloseHandle(blocked);
    ::Sleep(60000);
    return ::ReadFile(file, into, size, got, nullptr);
  };
  return true;
}();

}  // namespace
