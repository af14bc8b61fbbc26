// Test helper: a destination's record of copies, as a run would have kept
// it, for tests that plant what earlier runs left.
#ifndef NORVALE_TESTING_TEST_RECORD_H_
#define NORVALE_TESTING_TEST_RECORD_H_

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "run/copy_record.h"
#include "testing/test_folder.h"

namespace norvale {

// Writes into `destination` the record of a run from `source` that wrote
// `copies` (path below the destination, in "/" form, to bytes) and made
// `folders`.
inline void PlantRecord(const std::filesystem::path& destination,
                        const std::filesystem::path& source,
                        const std::map<std::string, std::string>& copies,
                        const std::vector<std::string>& folders) {
  CopyRecord record;
  record.source = std::filesystem::canonical(source);
  for (const auto& [name, bytes] : copies) {
    record.copies[NativePath(name).native()] = {Fingerprint(bytes), {}};
  }
  for (const std::string& folder : folders) {
    record.folders.insert(NativePath(folder).native());
  }
  std::ofstream(destination / kRecordName, std::ios::binary)
      << ComposeRecord(record);
}

}  // namespace norvale

#endif  // NORVALE_TESTING_TEST_RECORD_H_
