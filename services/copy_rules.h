// What Norvale may read, replace or remove where a copy goes, decided the
// same way on every platform from what each platform finds there.
#ifndef NORVALE_SERVICES_COPY_RULES_H_
#define NORVALE_SERVICES_COPY_RULES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvale {

// Why a file where a copy goes is left as it is: it may not be written, or
// it holds more than a compact copy, so that it may be a user's own.
constexpr char kReadOnlyReason[] = "It is read-only, so it is left as it is";
constexpr char kNotACopyReason[] =
    "It holds more than a compact copy, so it is left as it is";

// What stands where a copy goes, as the platform finds it before reading
// it, through what it opened without following a link.
struct FoundFile {
  enum class Kind {
    kFile,    // a regular file
    kLink,    // a link of any kind, never followed
    kFolder,  // a folder
    kOther,   // a device, pipe, socket or other special file
  };
  Kind kind = Kind::kFile;
  uint64_t size = 0;
  // Its permissions or attributes refuse writing.
  bool read_only = false;
  // Its content is not on this computer (a file OneDrive keeps online
  // only), so that reading it would download it.
  bool online_only = false;
};

// Returns why `found` is left as it is, whatever it holds: a link, a
// folder, no regular file, or, when its content is to be `read`, more than
// a compact copy. Returns nothing when it may be read and then judged by
// what it holds.
std::optional<std::string> WhyLeftAsItIs(const FoundFile& found, bool read);

// Returns true when `found` may be removed once what it holds proves it a
// copy of Norvale's (IsOwnCopy): it is no link, folder or special file,
// not read-only, not larger than a compact copy, and on this computer, as
// what is not read is not removed.
bool MayRemove(const FoundFile& found);

// Returns true when `content` is exactly a compact copy, and `expected`
// when that is given: a file Norvale could have written there.
bool IsOwnCopy(std::string_view content, std::string_view expected);

}  // namespace norvale

#endif  // NORVALE_SERVICES_COPY_RULES_H_
