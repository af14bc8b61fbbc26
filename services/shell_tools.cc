#include "services/shell_tools.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "services/error.h"
#include "services/file_io.h"
#include "services/folder_io.h"
#include "services/shell_folders.h"

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

// Walks one folder; the text of every path it lists begins with `text`.
class Search {
 public:
  Search(std::string_view pattern, bool recursive,
         const ShellTools::FoundCallback& on_found)
      : pattern_(pattern), recursive_(recursive), on_found_(on_found) {}

  // Leaves the folder `folder` out of the walk, when it exists.
  void LeaveOut(const fs::path& folder) {
    std::error_code ec;
    leave_out_ = IdentifyFile(folder);
    // Only a folder of the name it really has can be it, so only those are
    // identified while walking.
    if (leave_out_) leave_out_name_ = fs::canonical(folder, ec).filename();
    if (ec || leave_out_name_.empty()) leave_out_.reset();
  }

  void Walk(const Native& text) {
    std::error_code ec;
    // An empty text cannot be opened; the current folder is meant by none.
    // Links to folders are listed as neither file nor folder, so the walk
    // cannot loop or leave the tree.
    std::vector<FolderEntry> entries = ListFolder(fs::path(text), ec);
    if (ec) throw SystemError("Could not read the folder", text, ec);
    std::vector<Native> folders;
    for (FolderEntry& entry : entries) {
      const bool folder = entry.kind == FileKind::kFolder && recursive_;
      if (folder || (entry.kind == FileKind::kFile &&
                     MatchesPattern(entry.name, pattern_))) {
        Native child = text;
        if (child.empty() || child.back() != kSeparator) child += kSeparator;
        child += entry.name;
        (folder ? folders : found_).push_back(std::move(child));
      }
      // Told of every entry, not only of matches, so that a tree of many
      // files and few shortcuts can still be followed and stopped.
      ++looked_at_;
      if (on_found_ && !on_found_(looked_at_, found_.size())) {
        throw SearchCancelled();
      }
    }
    for (const Native& folder : folders) {
      if (!IsLeftOut(folder)) Walk(folder);
    }
  }

  std::vector<Native> Take() { return std::move(found_); }

 private:
  bool IsLeftOut(const Native& folder) const {
    if (!leave_out_) return false;
    const size_t name_at = folder.size() - leave_out_name_.native().size();
    if (folder.size() <= leave_out_name_.native().size() ||
        folder[name_at - 1] != kSeparator) {
      return false;
    }
    const Native name = folder.substr(name_at);
    const Native& wanted = leave_out_name_.native();
    for (size_t i = 0; i < name.size(); ++i) {
      if (AsciiLower(Unit(name[i])) != AsciiLower(Unit(wanted[i]))) {
        return false;
      }
    }
    return IdentifyFile(fs::path(folder)) == leave_out_;
  }

  std::optional<FileId> leave_out_;
  fs::path leave_out_name_;
  std::string_view pattern_;
  bool recursive_;
  const ShellTools::FoundCallback& on_found_;
  std::vector<Native> found_;
  size_t looked_at_ = 0;
};

}  // namespace

ShellTools& ShellTools::Instance() {
  static ShellTools* instance = new ShellTools();  // Lives to the end.
  return *instance;
}

fs::path ShellTools::SpecialFolderPath(int csidl, int reserved1,
                                       int reserved2) {
  const std::string what =
      "Could not find the special folder " + std::to_string(csidl);
  if (reserved1 != 0 || reserved2 != 0) {
    throw Error(what, "", "Its flags must be 0");
  }
  if (csidl != kFavorites && csidl != kDesktopDirectory) {
    throw Error(what, "", "Norvale knows no such folder");
  }
  return ShellFolderPath(csidl, what);
}

bool MatchesPattern(std::basic_string_view<fs::path::value_type> name,
                    std::string_view pattern) {
  // Greedy matching with one backtrack point for the last '*'.
  size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    // A '*' in the pattern is a wildcard even where the name has one.
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' ||
                AsciiLower(static_cast<unsigned char>(pattern[p])) ==
                    AsciiLower(Unit(name[n])))) {
      ++n;
      ++p;
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
                               bool recursive, const FoundCallback& on_found,
                               const fs::path& leave_out) {
  if (folder.empty()) {
    throw Error("Could not read the folder", folder, "No folder was given");
  }
  std::error_code ec;
  const FileKind kind = KindOf(folder, ec);
  if (ec) throw SystemError("Could not read the folder", folder, ec);
  if (kind != FileKind::kFolder) {
    throw Error("Could not read the folder", folder, "It is not a folder");
  }
  Search search(pattern, recursive, on_found);
  if (!leave_out.empty()) search.LeaveOut(leave_out);
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
