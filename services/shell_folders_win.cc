// Where the shell's special folders are on Windows: the shell is asked.
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "services/error.h"
#include "services/shell_folders.h"

namespace norvale {

std::filesystem::path ShellFolderPath(int csidl, std::string_view what) {
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
