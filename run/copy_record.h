// The record a destination keeps of the copies Norvale wrote there: the proof
// --delete needs before it removes anything. Text only; reading and writing
// it is the run's.
#ifndef NORVALE_RUN_COPY_RECORD_H_
#define NORVALE_RUN_COPY_RECORD_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "services/file_id.h"

namespace norvale {

// The record's file name in the destination's top folder: no search lists
// it as a shortcut, and on POSIX the dot hides it.
extern const std::filesystem::path::value_type kRecordName[];

// Returns a fingerprint of a copy's bytes, so the record can tell whether a
// file still holds what Norvale wrote without keeping the addresses.
uint64_t Fingerprint(std::string_view bytes);

// What the record keeps of one copy.
struct RecordedCopy {
  // The fingerprint of what Norvale wrote there.
  uint64_t fingerprint = 0;
  // Its size and last-write time when Norvale last wrote or read it, where
  // the platform tells them: proof that a copy online only, which is not
  // read, still holds what the fingerprint says.
  FileStamp stamp;

  friend bool operator==(const RecordedCopy& a, const RecordedCopy& b) {
    return a.fingerprint == b.fingerprint && a.stamp == b.stamp;
  }
};

struct CopyRecord {
  // The source folder the destination mirrors, as its real path.
  std::filesystem::path source;
  // Each copy by its path below the destination.
  std::map<std::filesystem::path::string_type, RecordedCopy> copies;
  // The folders below the destination that Norvale made.
  std::set<std::filesystem::path::string_type> folders;

  friend bool operator==(const CopyRecord& a, const CopyRecord& b) {
    return a.source == b.source && a.copies == b.copies &&
           a.folders == b.folders;
  }
};

// Returns the record as the text its file holds: every path escaped so that
// no name can end a line or pass for another entry, and an end line so
// that a cut record is never taken for a whole one. A record without
// stamps keeps the first version's form, which earlier Norvales read.
std::string ComposeRecord(const CopyRecord& record);

// Returns the record `text` holds, in either version, or nothing when it is
// not one whole record (damaged, cut short, or of a later version): then
// nothing in the destination is known to be Norvale's.
std::optional<CopyRecord> ParseRecord(std::string_view text);

}  // namespace norvale

#endif  // NORVALE_RUN_COPY_RECORD_H_
