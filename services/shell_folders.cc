// Where the shell's special folders are on a Linux desktop: Favorites under
// the home folder, the desktop where the XDG user-dirs settings put it.
#include "services/shell_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <cstdlib>
#include <string>

#include "services/error.h"

namespace norvale {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  if (entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return std::string();
}

std::filesystem::path ShellFolderPath(int csidl, std::string_view what) {
  const std::string home = HomeFolder();
  if (home.empty()) throw Error(what, "", "The home folder is not known");
  if (csidl == kFavoritesFolder)
    return std::filesystem::path(home) / "Favorites";

  // Qt reads the user-dirs settings; it hands back text, so the home part is
  // put back as the original bytes where the answer lies below it.
  const QByteArray desktop = QFile::encodeName(
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
  if (desktop.isEmpty()) return std::filesystem::path(home) / "Desktop";
  const QByteArray decoded_home = QFile::encodeName(QFile::decodeName(
      QByteArray(home.data(), static_cast<qsizetype>(home.size()))));
  if (desktop.startsWith(decoded_home) && decoded_home != home.c_str()) {
    return std::filesystem::path(
        home + desktop.mid(decoded_home.size()).toStdString());
  }
  return std::filesystem::path(desktop.toStdString());
}

}  // namespace norvale
