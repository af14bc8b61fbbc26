// Where the shell's special folders are on a Linux desktop: Favorites under
// the home folder, the desktop where the XDG user-dirs settings put it.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "services/error.h"
#include "services/posix/descriptor.h"
#include "services/shell_folders.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_';
}

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
}

// Takes from `text` one shell word, as sh reads the value of an assignment:
// quotes removed, backslashes taken as sh takes them, and $HOME or ${HOME}
// replaced by `home`. Returns false when the word holds any other expansion,
// which only a shell could work out, or a quote left open.
bool TakeShellWord(std::string_view& text, const std::string& home,
                   std::string& word) {
  char quote = 0;
  while (!text.empty()) {
    const char c = text.front();
    if (quote == 0 && (c == ' ' || c == '\t')) break;
    text.remove_prefix(1);
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\\') {
      if (text.empty()) return false;
      // Within double quotes only these four are escaped.
      if (quote == 0 || std::string_view("$`\"\\").find(text.front()) !=
                            std::string_view::npos) {
        word += text.front();
        text.remove_prefix(1);
      } else {
        word += c;
      }
    } else if (c == '"') {
      quote = quote == 0 ? '"' : 0;
    } else if (c == '\'' && quote == 0) {
      quote = '\'';
    } else if (c == '$') {
      if (text.substr(0, 6) == "{HOME}") {
        text.remove_prefix(6);
      } else if (text.substr(0, 4) == "HOME" &&
                 (text.size() == 4 || !IsNameChar(text[4]))) {
        text.remove_prefix(4);
      } else {
        return false;
      }
      word += home;
    } else if (c == '`') {
      return false;
    } else {
      word += c;
    }
  }
  return quote == 0;
}

// Returns the content of the user-dirs settings at `path`; empty when there
// is no regular file there to read. Never waits on a pipe, so a start cannot
// hang on a file that is none.
std::string ReadUserDirs(const fs::path& path) {
  Descriptor fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::string();
  try {
    return ReadOpenFile(fd.get(), st, path);
  } catch (const Error&) {
    return std::string();  // Settings that cannot be read are none.
  }
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  if (entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return std::string();
}

fs::path DesktopFromUserDirs(std::string_view text, const std::string& home) {
  constexpr std::string_view kName = "XDG_DESKTOP_DIR=";
  fs::path desktop;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    SkipBlanks(line);
    if (line.substr(0, kName.size()) != kName) continue;  // Also comments.
    line.remove_prefix(kName.size());
    std::string value;
    if (!TakeShellWord(line, home, value)) continue;
    SkipBlanks(line);
    // A command after the value would make it that command's alone.
    if (!line.empty() && line.front() != '#') continue;
    // A relative folder would depend on where Norvale was started.
    if (!value.empty() && value.front() == '/') desktop = value;
  }
  return desktop;
}

fs::path ShellFolderPath(int csidl, std::string_view what) {
  const std::string home = HomeFolder();
  if (home.empty()) throw Error(what, "", "The home folder is not known");
  if (csidl == kFavoritesFolder) return fs::path(home) / "Favorites";

  // Where xdg-user-dir looks; a relative XDG_CONFIG_HOME is ignored, as the
  // base directory rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const fs::path settings =
      (config != nullptr && config[0] == '/' ? fs::path(config)
                                             : fs::path(home) / ".config") /
      "user-dirs.dirs";
  const fs::path desktop = DesktopFromUserDirs(ReadUserDirs(settings), home);
  return desktop.empty() ? fs::path(home) / "Desktop" : desktop;
}

}  // namespace norvale
