#include "services/path_list.h"

namespace norvale {

bool PathList::Holds(const FileId& id, FileWork& work) const {
  if (!ids_) {
    ids_.emplace();
    ids_->reserve(paths_.size());
    for (const Text& path : paths_) {
      if (auto found = work.IdentifyFile(path)) ids_->insert(*found);
    }
  }
  return ids_->count(id) != 0;
}

}  // namespace norvale
