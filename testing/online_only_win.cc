// Linked into a test build of Norvale.com: the files whose paths end as
// NORVALE_ONLINE_ONLY lists (";" between) are online only, as OneDrive
// leaves them, and reading one fails, as offline.
#include <cstdlib>
#include <string>

#include "testing/test_online_only_win.h"

namespace {

const bool marked = [] {
  const wchar_t* names = ::_wgetenv(L"NORVALE_ONLINE_ONLY");
  std::wstring list = std::wstring(names != nullptr ? names : L"") + L";";
  for (size_t at = 0, end; (end = list.find(L';', at)) != list.npos;
       at = end + 1) {
    if (end > at) {
      norvale::online_only::Mark(list.substr(at, end - at),
                                 norvale::online_only::kOneDrive);
    }
  }
  norvale::online_only::TheCloud().offline = true;
  norvale::online_only::Install();
  return true;
}();

}  // namespace
