#include "services/shell_tools.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "services/error.h"
#include "services/file_work.h"
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
         const ShellTools::FoundCallback& on_found, FileWork& work)
      : pattern_(pattern),
        recursive_(recursive),
        on_found_(on_found),
        work_(work) {}

  // Leaves the folder `folder` out of the walk, when it exists.
  void LeaveOut(const fs::path& folder) {
    leave_out_ = work_.IdentifyFile(folder);
  }

  // Walks the folder `text`, whose identity is `id` when it could be told.
  void Walk(const Native& text, const std::optional<FileId>& id) {
    if (id) work_.NoteSourceFolder(*id);
    std::error_code ec;
    // An empty text cannot be opened; the current folder is meant by none.
    // Links to folders are listed as neither file nor folder, so the walk
    // cannot loop or leave the tree.
    std::vector<FolderEntry> entries = ListFolder(fs::path(text), ec);
    if (ec) throw SystemError("Could not read the folder", text, ec);
    std::vector<Native> folders;
    for (FolderEntry& entry : entries) {
      const bool folder = entry.kind == FileKind::kFolder && recursive_;
      const bool match = MatchesPattern(entry.name, pattern_);
      // What cannot be seen may hold shortcuts, or be one: a search that
      // left it out would look whole and be taken for the tree, and with
      // --delete the copies of what it hides would go. A link that leads
      // nowhere reachable is only let go when it could be no match.
      const bool unseen = entry.kind == FileKind::kUnknown &&
                          (match || (recursive_ && !entry.link));
      if (folder || unseen || (entry.kind == FileKind::kFile && match)) {
        Native child = text;
        if (child.empty() || child.back() != kSeparator) child += kSeparator;
        child += entry.name;
        if (unseen) throw SystemError("Could not look at", child, entry.error);
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
      // Identities before names: a folder is the one left out however it
      // is spelled or reached.
      std::optional<FileId> folder_id;
      if (id) folder_id = work_.IdentifySubfolder(*id, fs::path(folder));
      if (leave_out_ && folder_id == leave_out_) continue;
      Walk(folder, folder_id);
    }
  }

  std::vector<Native> Take() { return std::move(found_); }

 private:
  std::optional<FileId> leave_out_;
  std::string_view pattern_;
  bool recursive_;
  const ShellTools::FoundCallback& on_found_;
  FileWork& work_;
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
                               const fs::path& leave_out, FileWork* work) {
  if (folder.empty()) {
    throw Error("Could not read the folder", folder, "No folder was given");
  }
  std::error_code ec;
  const FileKind kind = KindOf(folder, ec);
  if (ec) throw SystemError("Could not read the folder", folder, ec);
  if (kind != FileKind::kFolder) {
    throw Error("Could not read the folder", folder, "It is not a folder");
  }
  std::optional<FileWork> own_work;
  if (work == nullptr) work = &own_work.emplace();
  Search search(pattern, recursive, on_found, *work);
  if (!leave_out.empty()) search.LeaveOut(leave_out);
  search.Walk(folder.native(), work->IdentifyFile(folder));
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
