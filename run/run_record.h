// The destination's record of Norvale's copies as one run keeps it: read as
// the run starts, added to copy by copy, written as the run ends.
#ifndef NORVALE_RUN_RUN_RECORD_H_
#define NORVALE_RUN_RUN_RECORD_H_

#include <filesystem>
#include <optional>
#include <string>

#include "run/compression_run.h"
#include "run/copy_record.h"

namespace norvale {

class FileWork;

class RunRecord {
 public:
  using Native = std::filesystem::path::string_type;

  // Reads the record of Norvale's copies in the folder `destination`, whose
  // text `destination_text` ends in one separator, for a run from `source`:
  // the only proof that lets a copy be removed. It is kept where removing
  // may ever be asked, so not where the destination holds the source
  // (`holds_source`), nor for a source without a real path; a run that
  // only looks keeps none. Read without following a link, and also when it
  // is online only, as without it nothing proves any copy Norvale's.
  RunRecord(std::filesystem::path source, std::filesystem::path destination,
            Native destination_text, bool holds_source, bool look_only,
            FileWork& work);
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

  // What the record read was, for the user.
  RecordState state() const { return state_; }
  // The record that holds for this run's source, or null.
  const CopyRecord* read() const { return read_; }
  // True when the run keeps a record: what Add gives is written at its end.
  bool keeping() const { return keep_; }
  // True when Write wrote the record.
  bool written() const { return written_; }

  // Notes that the run wrote, found exact or left unchecked the copy
  // `relative` (its path below the destination), as `copy` says of it;
  // copies come in the order of the search's sorted list.
  void Add(const Native& relative, const RecordedCopy& copy);

  // Writes the record of what is Norvale's now: the copies added, the
  // folders the run made below the destination, and what of the record
  // read still holds, `still`; nothing where the destination lies inside
  // the source, and no record where it would name nothing. Written as a
  // copy is, so that it only ever shows a whole record. Called once, as
  // the run ends: what the run found is kept, not copied. Throws Error
  // when it cannot be written.
  void Write(const CopyRecord* still, FileWork& work);

 private:
  std::filesystem::path source_;
  std::filesystem::path destination_;
  Native destination_text_;
  std::filesystem::path path_;
  // What the record file held, when there was a regular file, and what
  // that says, when it is one whole record.
  std::optional<std::string> text_;
  std::optional<CopyRecord> record_;
  const CopyRecord* read_ = nullptr;
  RecordState state_ = RecordState::kNone;
  bool keep_ = false;
  bool written_ = false;
  // The copies this run wrote, found exact or left.
  CopyRecord live_;
};

}  // namespace norvale

#endif  // NORVALE_RUN_RUN_RECORD_H_
