#include "run/folder_field.h"

#include <string>
#include <system_error>
#include <utility>
#include <vector>

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

namespace {

using Native = fs::path::string_type;

#ifdef _WIN32
constexpr wchar_t kBlanks[] = L" \t\r\n";
#else
constexpr char kBlanks[] = " \t\r\n";
#endif

// Returns `text` without the quotes around it, blanks outside them
// included, as a path copied with its quotes ("Copy as path" in Explorer,
// a shell's quoting) is pasted; any other text as it is.
Native Unquoted(const Native& text) {
  const size_t first = text.find_first_not_of(kBlanks);
  const size_t last = text.find_last_not_of(kBlanks);
  if (first == Native::npos || last - first < 1) return text;
  const auto quote = text[first];
  if (quote != text[last] || (quote != '"' && quote != '\'')) return text;
  return text.substr(first + 1, last - first - 1);
}

#ifdef _WIN32
// Returns `text` with its "." and ".." names resolved as Windows resolves
// them, by their text and before it trims anything, so that
// "C:\Backup\Favs\.." is "C:\Backup"; ".." never climbs above the root
// ("C:\", "\\server\share\"). A path meant for the system as it is
// ("\\?\") is left as it is, as Windows leaves it.
Native Resolved(const Native& text) {
  if (text.rfind(L"\\\\?\\", 0) == 0) return text;
  size_t root = 0;
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
    // The server and the share.
    root = 2;
    for (int part = 0; part < 2 && root < text.size(); ++part) {
      while (root < text.size() && !IsSeparator(text[root])) ++root;
      if (root < text.size()) ++root;
    }
  } else if (text.size() >= 2 && text[1] == L':') {
    root = text.size() >= 3 && IsSeparator(text[2]) ? 3 : 2;
  } else if (!text.empty() && IsSeparator(text[0])) {
    root = 1;
  }
  std::vector<Native> names;
  bool any = false;
  for (size_t start = root; start < text.size();) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    const Native name = text.substr(start, end - start);
    if (name == L"." || name == L"..") {
      any = true;
      if (name == L".." && !names.empty()) names.pop_back();
    } else if (!name.empty()) {
      names.push_back(name);
    }
    start = end + 1;
  }
  if (!any) return text;
  Native resolved = text.substr(0, root);
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) resolved += L'\\';
    resolved += names[i];
  }
  if (!names.empty() && IsSeparator(text.back())) resolved += L'\\';
  return resolved;
}

// Returns `text` trimmed as Windows trims a path it is given: a name that
// ends in a single dot loses it, and a path that does not end in a
// separator loses its trailing dots and blanks. Norvale hands Windows every
// path as it is, so a typed "C:\Copies " would otherwise make a folder
// that Explorer can neither open nor delete.
Native Trimmed(Native text) {
  if (!text.empty() && !IsSeparator(text.back())) {
    while (!text.empty() && (text.back() == L'.' || text.back() == L' ')) {
      text.pop_back();
    }
  }
  for (size_t end = 0; end < text.size(); ++end) {
    if (!IsSeparator(text[end]) || end < 2 || text[end - 1] != L'.') continue;
    // "." and ".." are names of their own, "a.." keeps its dots, and "C:."
    // is the current folder of a drive.
    if (text[end - 2] != L'.' && text[end - 2] != L':' &&
        !IsSeparator(text[end - 2])) {
      text.erase(--end, 1);
    }
  }
  return text;
}
#endif

}  // namespace

fs::path FolderFromField(const fs::path& pasted, std::string_view field) {
  const std::string name(field);
#ifdef _WIN32
  const fs::path typed(Trimmed(Resolved(Unquoted(pasted.native()))));
#else
  const fs::path typed(Unquoted(pasted.native()));
#endif
  if (typed.empty()) {
    throw Error("Could not start", "", "No " + name + " folder is given");
  }
#ifdef _WIN32
  // A drive and a root both: "C:foo" and "\foo" depend on the current
  // folder of a drive, as "foo" does on the current folder. A network share
  // ("\\server\share") is full too, whatever the library makes of it.
  const std::wstring& text = typed.native();
  const bool full = (text.size() > 2 && IsSeparator(text[0]) &&
                     IsSeparator(text[1]) && !IsSeparator(text[2])) ||
                    (typed.has_root_name() && typed.has_root_directory());
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
