// The ordered list of shortcut files a search found.
#ifndef NORVALE_SERVICES_PATH_LIST_H_
#define NORVALE_SERVICES_PATH_LIST_H_

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <unordered_set>
#include <vector>

#include "services/file_id.h"
#include "services/file_work.h"

namespace norvale {

// Entries are kept as plain texts: a path object keeps its parsed parts
// too, which for a large tree costs several times the texts themselves.
class PathList {
 public:
  using Text = std::filesystem::path::string_type;

  PathList() = default;
  explicit PathList(std::vector<Text> paths) : paths_(std::move(paths)) {}

  size_t count() const { return paths_.size(); }
  // Entry `index`, counted from 0.
  std::filesystem::path operator[](size_t index) const {
    return std::filesystem::path(paths_[index]);
  }

  // Returns true when `text` is one of the entries, as sorted by the
  // search; a lookup, not a walk through them.
  bool Contains(const Text& text) const {
    return std::binary_search(paths_.begin(), paths_.end(), text);
  }

  // Returns true when `id` is the identity of one of the listed files, as
  // `work` tells identities. They are taken once, on the first call, so a
  // run that writes only new files never pays for them. Throws Error when a
  // listed file's disk reaches it under a spelling that cannot be told.
  bool Holds(const FileId& id, FileWork& work) const;

 private:
  std::vector<Text> paths_;
  mutable std::optional<std::unordered_set<FileId, FileIdHash>> ids_;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_PATH_LIST_H_
