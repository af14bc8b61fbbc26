// How Windows volumes tell files apart: by number, or by real path.
#ifndef NORVALE_SERVICES_WIN_IDENTITY_H_
#define NORVALE_SERVICES_WIN_IDENTITY_H_

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>

namespace norvale {

// What the system gives as an open file's identity.
struct RawId {
  uint64_t serial = 0;
  uint64_t low = 0;
  uint64_t high = 0;
  // True when the number is Windows 8's 128-bit one, which ReFS needs.
  bool wide = false;
};

// Returns false when the system tells nothing of the file open as `handle`.
bool ReadRawId(HANDLE handle, RawId* raw);

// How the files of a volume are told apart.
enum class Numbering : char {
  // By the 64-bit number, which lasts (NTFS).
  kNumbers,
  // By the 128-bit number: ReFS gives two files one 64-bit number.
  kWideNumbers,
  // By real path: the volume has no lasting numbers. A file system without
  // 64-bit numbers gives 0; FAT, exFAT and some network shares give
  // numbers that change, and say so by lacking
  // FILE_SUPPORTS_OPEN_BY_FILE_ID.
  kPaths,
};

class Volumes {
 public:
  // Returns how the files of the volume of the file open as `handle`, whose
  // identity is `raw`, are told apart. A volume is judged the first time
  // it is met, by what it says of itself and by `raw`, and taken so for the
  // rest of the run, so that every identity on it is taken alike; where it
  // says nothing, by real path.
  Numbering Of(HANDLE handle, const RawId& raw);

  // Returns how the files of the volume `serial`, met before, are told
  // apart.
  Numbering Known(uint64_t serial) const;

 private:
  std::unordered_map<uint64_t, Numbering> volumes_;
};

// Returns the full path of the file or folder open as `handle`: every link
// resolved, each name as its folder stores it, without a separator at the
// end. Throws Error naming `path` when the
// system cannot tell.
std::wstring RealPath(HANDLE handle, const std::filesystem::path& path);

}  // namespace norvale

#endif  // NORVALE_SERVICES_WIN_IDENTITY_H_
