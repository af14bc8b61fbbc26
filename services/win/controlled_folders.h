// The folders Windows' Controlled Folder Access guards unless told
// otherwise, to name it as the likely cause when Windows denies a change
// there with only "Access is denied".
#ifndef NORVALE_SERVICES_WIN_CONTROLLED_FOLDERS_H_
#define NORVALE_SERVICES_WIN_CONTROLLED_FOLDERS_H_

#include <filesystem>
#include <string>

namespace norvale {

// Returns what to add to "Access is denied" for a change to `path`: where
// the path lies in the user's or the public Desktop, Documents, Pictures,
// Videos, Music or Favorites, that Controlled Folder Access may be the
// cause and what to do about it; otherwise nothing. Never fails.
std::string ControlledFolderHint(const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_CONTROLLED_FOLDERS_H_
