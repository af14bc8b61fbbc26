#include "run/folder_field.h"

#include <string>
#include <system_error>
#include <utility>

#include "services/error.h"
#include "services/file_tools.h"
#include "services/folder_io.h"
#include "services/shell_folders.h"
#include "services/shell_tools.h"

namespace norvale {

namespace fs = std::filesystem;

DefaultFolders FindDefaultFolders() {
  ShellTools& shell = ShellTools::Instance();
  DefaultFolders folders;
  folders.source = shell.SpecialFolderPath(ShellTools::kFavorites, 0, 0);
  fs::path::string_type destination =
      shell.SpecialFolderPath(ShellTools::kDesktopDirectory, 0, 0).native();
  destination += fs::path::preferred_separator;
  destination += fs::path("Compressed Favorites").native();
  folders.destination = fs::path(std::move(destination));
  return folders;
}

fs::path DroppedFolder(const fs::path& dropped) {
  std::error_code ec;
  if (KindOf(dropped, ec) != FileKind::kFile) return dropped;
  return FileTools::Instance().FolderPart(dropped);
}

fs::path FolderFromField(const fs::path& typed, std::string_view field) {
  const std::string name(field);
  if (typed.empty()) {
    throw Error("Could not start", "", "No " + name + " folder is given");
  }
#ifdef _WIN32
  // A drive and a root both: "C:foo" and "\foo" depend on the current
  // folder of a drive, as "foo" does on the current folder.
  const bool full = typed.has_root_name() && typed.has_root_directory();
  const fs::path& folder = typed;
#else
  fs::path folder = typed;
  const std::string& text = typed.native();
  if (text == "~" || text.rfind("~/", 0) == 0) {
    const std::string home = HomeFolder();
    if (home.empty()) {
      throw Error("Could not start", "",
                  "The home folder, which \"~\" stands for, is not known");
    }
    folder = fs::path(home + text.substr(1));
  }
  const bool full = folder.is_absolute();
#endif
  if (!full) {
    throw Error("Could not start", "",
                "The " + name + " must be a full path, not \"" +
                    typed.u8string() + "\"");
  }
  return folder;
}

}  // namespace norvale
