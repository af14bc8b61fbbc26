// The ordered list of shortcut files a search found.
#ifndef NORVALE_SERVICES_PATH_LIST_H_
#define NORVALE_SERVICES_PATH_LIST_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <unordered_set>
#include <vector>

#include "services/file_io.h"

namespace norvale {

class PathList {
 public:
  PathList() = default;
  explicit PathList(std::vector<std::filesystem::path> paths)
      : paths_(std::move(paths)) {}

  size_t count() const { return paths_.size(); }
  // Entry `index`, counted from 0.
  const std::filesystem::path& operator[](size_t index) const {
    return paths_[index];
  }
  const std::vector<std::filesystem::path>& paths() const { return paths_; }

  // Returns true when `id` is the identity of one of the listed files. The
  // identities are taken once, on the first call, so a run that writes only
  // new files never pays for them.
  bool Holds(const FileId& id) const;

 private:
  std::vector<std::filesystem::path> paths_;
  mutable std::optional<std::unordered_set<FileId, FileIdHash>> ids_;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_PATH_LIST_H_
