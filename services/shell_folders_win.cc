// Where the shell's special folders are on Windows: the shell is asked.
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "services/error.h"
#include "services/shell_tools.h"

namespace norvale {

std::filesystem::path ShellTools::SpecialFolderPath(int csidl, int reserved1,
                                                    int reserved2) {
  const std::string what =
      "Could not find the special folder " + std::to_string(csidl);
  if (reserved1 != 0 || reserved2 != 0) {
    throw Error(what, "", "Its flags must be 0");
  }
  if (csidl != kFavorites && csidl != kDesktopDirectory) {
    throw Error(what, "", "Norvale knows no such folder");
  }
  wchar_t path[MAX_PATH] = {};
  // The path is wanted whether or not the folder exists yet, as elsewhere:
  // a missing Favorites folder is reported when a run reads it.
  const HRESULT result =
      ::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr,
                         SHGFP_TYPE_CURRENT, path);
  if (result != S_OK) {
    throw WindowsError(what, "", static_cast<unsigned long>(result));
  }
  return std::filesystem::path(path);
}

}  // namespace norvale
