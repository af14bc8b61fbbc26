#include "services/copy_rules.h"

#include "ini/shortcut.h"
#include "services/file_work.h"

namespace norvale {

std::optional<std::string> WhyLeftAsItIs(const FoundFile& found, bool read) {
  switch (found.kind) {
    case FoundFile::Kind::kLink:
      return "It is a link, so it is left as it is";
    case FoundFile::Kind::kFolder:
      return "A folder of that name is in the way";
    case FoundFile::Kind::kOther:
      return "It is not a regular file, so it is left as it is";
    case FoundFile::Kind::kFile:
      break;
  }
  if (read && found.size > kLargestShortcut) {
    return kNotACopyReason;
  }
  return std::nullopt;
}

bool MayRemove(const FoundFile& found) {
  return !WhyLeftAsItIs(found, true) && !found.read_only && !found.online_only;
}

bool IsOwnCopy(std::string_view content, std::string_view expected) {
  return IsCompactShortcut(content) &&
         (expected.empty() || content == expected);
}

}  // namespace norvale
