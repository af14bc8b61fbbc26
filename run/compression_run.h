// One compression run: a compact copy of every shortcut below a source folder
// at the mirrored place below a destination folder.
#ifndef NORVALE_RUN_COMPRESSION_RUN_H_
#define NORVALE_RUN_COMPRESSION_RUN_H_

#include <cstddef>
#include <filesystem>

namespace norvale {

struct CopyRecord;
class Error;
class FileWork;
class PathList;
class RunRecord;
class StaleCopies;

// Told how a run goes; a long run shows it. Each call may stop the run by
// returning false. Calls come often, so they must be cheap.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The search has looked at `looked_at` files and folders and found
  // `found` shortcuts among them so far.
  virtual bool Searching(size_t looked_at, size_t found) = 0;
  // `done` of `total` shortcuts are written.
  virtual bool Compressing(size_t done, size_t total) = 0;
  // The copies written are being made to reach the disk; this can no
  // longer be stopped.
  virtual void Flushing() = 0;

  // kRemoved also tells of a folder, its path ending in a separator;
  // kNotRecorded of a copy whose shortcut is gone, which is not removed
  // since the destination's record does not name it as Norvale's;
  // kOnlineOnly of a file online only that could not be checked unread, and
  // was left as it is.
  enum class Change {
    kCreated,
    kReplaced,
    kRemoved,
    kNotRecorded,
    kOnlineOnly
  };
  // The copy `relative`, its path below the destination, was created,
  // replaced, removed or left; in a run that only looks, would be.
  virtual void Changed(Change /*change*/,
                       const std::filesystem::path& /*relative*/) {}
};

// What a run does beyond writing the copies.
struct RunOptions {
  // Removes the copies whose shortcuts are gone from the source, and the
  // folders that held only them.
  bool remove_stale = false;
  // Changes nothing on any disk; only tells what it would do.
  bool look_only = false;
  // With remove_stale, removes them also when the source holds no shortcut
  // at all, which otherwise looks like a disk that is not mounted.
  bool remove_all = false;
};

// Why a run with remove_stale removed nothing it found, told to the user.
enum class RecordState {
  kKept,         // the record names Norvale's copies: they may go
  kNone,         // the destination has no record
  kDamaged,      // the record cannot be read whole
  kOtherSource,  // the record is of another source folder
};

class CompressionRun {
 public:
  // A run from `source` to `destination`, the two folder texts exactly as
  // the user gave them; `observer` may be null.
  CompressionRun(std::filesystem::path source,
                 std::filesystem::path destination,
                 RunObserver* observer = nullptr, RunOptions options = {});

  // Writes a compact copy of each shortcut below the source (leaving one
  // that is exact already as it is, and one online only, which is never
  // read, unless the record's stamp proves it Norvale's), then, once every
  // copy is written, found exact or left, looks for copies whose shortcuts
  // are gone (and with remove_stale removes those the destination's record
  // names as written by Norvale), keeps the record of the copies, flushes
  // the changes to their disks, and returns how many shortcuts it went
  // through. Stops at the first failure and throws its Error, after flushing
  // what was written, after which done() tells how many were done before it;
  // nothing done is undone. Throws Error before writing anything when either
  // folder text is empty or not a full path, the source is not a readable
  // folder or an entry below it cannot be told, another run is writing to
  // the destination, or remove_stale is asked where it may not be: a
  // destination that is the source, lies inside it or holds it, or a source
  // without shortcuts while the record names copies (unless remove_all).
  size_t Run();

  // Shortcuts gone through so far: their copies written, found exact, or
  // left unchecked.
  size_t done() const { return done_; }
  // Copies written so far; a copy found exact is left as it was.
  size_t written() const { return written_; }
  // Shortcuts whose copies were found exact, and left as they were.
  size_t up_to_date() const { return done_ - written_ - left_online_; }
  // Files online only that were left unchecked, as reading them would
  // download them and the record does not prove them Norvale's: copies of
  // shortcuts, and files where copies whose shortcuts are gone would be.
  size_t online_only() const { return online_only_; }
  // Shortcuts the search found; 0 until it has finished.
  size_t total() const { return total_; }
  // True when the observer stopped the run.
  bool cancelled() const { return cancelled_; }
  // Copies in the destination whose shortcuts are gone, and how many of
  // them were removed; counted only after every copy is done.
  size_t stale() const { return stale_; }
  size_t removed() const { return removed_; }
  // Copies whose shortcuts are gone that the record does not name as
  // Norvale's, which are never removed; and what the record was.
  size_t unrecorded() const { return unrecorded_; }
  RecordState record_state() const { return record_state_; }
  const RunOptions& options() const { return options_; }

 private:
  // Where a run's copies go, and the places of the copies made so far;
  // defined beside Run.
  class Places;
  class EarlierCopies;

  // The steps of Run, in their order.

  // Returns whether the destination of `places` holds the source. Throws
  // Error when remove_stale is asked and the destination is the source,
  // lies inside it or holds it.
  bool RefuseMixedRemoval(const Places& places, FileWork& work);

  // Returns the shortcuts below the source, telling the observer, and sets
  // total(); sets cancelled() when the observer stops the search. Throws
  // Error when the search fails, or when remove_stale is asked of a source
  // without shortcuts while `record` names copies (unless remove_all).
  PathList Search(const Places& places, const RunRecord& record,
                  FileWork& work);

  // Writes, finds exact or, online only, leaves the copy of each shortcut
  // of `list` in the order of the list, making the folders they need (and
  // locking the destination once made, unless `locked`), noting each in
  // `record`.
  // Stops, setting cancelled(), when the observer says so. Throws Error at
  // the first failure.
  void Copy(const PathList& list, const Places& places, bool holds_source,
            bool locked, RunRecord& record, FileWork& work);

  // Copies the shortcut `index` of `list` to `target`, whose folder exists
  // (or, looking only, would).
  void CopyOne(const PathList& list, size_t index,
               const std::filesystem::path& target, const Places& places,
               EarlierCopies& earlier, RunRecord& record, FileWork& work);

  // Finds the copies whose shortcuts are gone with `stale`, removing them
  // with remove_stale, and counts them. Throws Error at the first failure,
  // after settling what was done.
  void Remove(StaleCopies& stale, const Places& places, RunRecord& record,
              FileWork& work);

  // Keeps in `record` what is Norvale's now, with what of the record read
  // still holds (`still`), and flushes every disk written to.
  void Finish(const CopyRecord* still, RunRecord& record, FileWork& work);

  // Finish after `failure`: throws an Error telling both when it fails.
  void Settle(const Error& failure, const CopyRecord* still, RunRecord& record,
              FileWork& work);

  // Flushes every disk the run wrote to, telling the observer meanwhile.
  void Flush(FileWork& work);

  // Tells the observer that the copy `copy` changed as `change` says.
  void Tell(RunObserver::Change change, const std::filesystem::path& copy,
            const Places& places);

  std::filesystem::path source_;
  std::filesystem::path destination_;
  RunObserver* observer_;
  RunOptions options_;
  size_t done_ = 0;
  size_t written_ = 0;
  size_t total_ = 0;
  size_t stale_ = 0;
  size_t removed_ = 0;
  size_t unrecorded_ = 0;
  size_t left_online_ = 0;
  size_t online_only_ = 0;
  RecordState record_state_ = RecordState::kNone;
  bool cancelled_ = false;
};

}  // namespace norvale

#endif  // NORVALE_RUN_COMPRESSION_RUN_H_
