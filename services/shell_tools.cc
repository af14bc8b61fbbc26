#include "services/shell_tools.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "services/error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
constexpr fs::path::value_type kSeparator = fs::path::preferred_separator;

// Folds ASCII letters only: names may be in any encoding, or none.
uint32_t AsciiLower(uint32_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

uint32_t Unit(fs::path::value_type c) {
  return static_cast<std::make_unsigned_t<fs::path::value_type>>(c);
}

// Returns whether `entry` is a link, whatever it leads to.
bool IsLink(const fs::directory_entry& entry) {
#ifdef _WIN32
  // The run-time reports no links on Windows. Junctions and symbolic links
  // are reparse points of their own kinds; other reparse points, such as
  // files and folders kept in the cloud, are what they seem.
  const DWORD attributes = ::GetFileAttributesW(entry.path().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(entry.path().c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
         data.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
#else
  std::error_code ec;
  return entry.is_symlink(ec);
#endif
}

// Walks one folder; the text of every path it lists begins with `text`.
class Search {
 public:
  Search(std::string_view pattern, bool recursive,
         const ShellTools::FoundCallback& on_found)
      : pattern_(pattern), recursive_(recursive), on_found_(on_found) {}

  void Walk(const Native& text) {
    std::error_code ec;
    // An empty text cannot be opened; the current folder is meant by none.
    fs::directory_iterator it(fs::path(text), ec);
    if (ec) throw SystemError("Could not read the folder", text, ec);
    std::vector<Native> folders;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      const fs::directory_entry& entry = *it;
      const Native name = entry.path().filename().native();
      Native child = text;
      if (child.empty() || child.back() != kSeparator) child += kSeparator;
      child += name;
      std::error_code type_ec;
      if (IsLink(entry)) {
        // A link counts only when it leads to a regular file; links to
        // folders are never followed, so the walk cannot loop or leave.
        if (entry.is_regular_file(type_ec)) Consider(name, std::move(child));
      } else if (entry.is_directory(type_ec)) {
        if (recursive_) folders.push_back(std::move(child));
      } else if (entry.is_regular_file(type_ec)) {
        Consider(name, std::move(child));
      }
    }
    if (ec) throw SystemError("Could not read the folder", text, ec);
    for (const Native& folder : folders) Walk(folder);
  }

  std::vector<Native> Take() { return std::move(found_); }

 private:
  void Consider(const Native& name, Native&& path) {
    if (!MatchesPattern(name, pattern_)) return;
    found_.emplace_back(std::move(path));
    if (on_found_ && !on_found_(found_.size())) throw SearchCancelled();
  }

  std::string_view pattern_;
  bool recursive_;
  const ShellTools::FoundCallback& on_found_;
  std::vector<Native> found_;
};

}  // namespace

ShellTools& ShellTools::Instance() {
  static ShellTools* instance = new ShellTools();  // Lives to the end.
  return *instance;
}

bool MatchesPattern(std::basic_string_view<fs::path::value_type> name,
                    std::string_view pattern) {
  // Greedy matching with one backtrack point for the last '*'.
  size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || AsciiLower(static_cast<unsigned char>(
                                  pattern[p])) == AsciiLower(Unit(name[n])))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PathList ShellTools::FindFiles(const fs::path& folder, std::string_view pattern,
                               bool recursive, const FoundCallback& on_found) {
  if (folder.empty()) {
    throw Error("Could not read the folder", folder, "No folder was given");
  }
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (ec) throw SystemError("Could not read the folder", folder, ec);
  if (!fs::is_directory(status)) {
    throw Error("Could not read the folder", folder, "It is not a folder");
  }
  Search search(pattern, recursive, on_found);
  search.Walk(folder.native());
  std::vector<Native> paths = search.Take();
  std::sort(paths.begin(), paths.end());
  return PathList(std::move(paths));
}

fs::path ShellTools::RelativeFolder(const fs::path& folder) {
  Native text = folder.native();
  const size_t first = text.find_first_not_of(kSeparator);
  if (first == Native::npos) return fs::path();
  const size_t last = text.find_last_not_of(kSeparator);
  text = text.substr(first, last - first + 1);
  text += kSeparator;
  return fs::path(std::move(text));
}

}  // namespace norvale
