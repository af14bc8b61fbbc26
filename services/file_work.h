// The file work of one run: the platform's file primitives, shaped so that
// sources are only ever read, a copy's name only ever shows whole content,
// and an existing file is only ever replaced whole, together with what the
// run learns on the way of its disks and folders.
#ifndef NORVALE_SERVICES_FILE_WORK_H_
#define NORVALE_SERVICES_FILE_WORK_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "services/file_id.h"
#include "services/folder_io.h"

namespace norvale {

// A file's permission bits as the system keeps them (0777 on POSIX); 0 where
// it keeps none (Windows, where a file takes its folder's access rules).
using Permissions = uint32_t;

// A file found where a copy goes, read without following a link.
struct ExistingCopy {
  std::string content;
  FileId id;
  // True when `id` alone identifies this place: the file has one name and
  // its disk keeps identities for as long as the run lasts.
  bool id_is_place = false;
  CopyPlace place;
  // True when it may not be written, so that it is never replaced or
  // removed.
  bool read_only = false;
  // True when its content is not on this computer (Windows' files online
  // only): it is not read, as that would download it, and `content` is
  // empty.
  bool online_only = false;
  // Its size and last-write time where the platform tells them (Windows).
  FileStamp stamp;
};

// Shortcuts are small; a file larger than this is not one, and is never
// read into memory.
constexpr uint64_t kLargestShortcut = 16u << 20;

// Each run owns one, created when it starts and passed wherever files are
// read or written; nothing of it outlives the run. It keeps the folders of
// the last source and the last copy open, and learns per disk what the disk
// allows (unnamed files, renames that refuse a taken name, hard links) and
// whether its file numbers identify files lastingly: where they do not,
// files are told apart by their real paths. Norvale's own temporary files
// older than the run are leftovers of an earlier one, removed from each
// folder a copy is written to or removed from, or that a walk enters, that
// is no source folder.
class FileWork {
 public:
  FileWork();
  ~FileWork();
  FileWork(const FileWork&) = delete;
  FileWork& operator=(const FileWork&) = delete;

  // Learns the ways of the disk of `destination` before anything is
  // searched, from a temporary file of Norvale's own made and removed there:
  // whether it ignores letter case, and whether its file numbers last.
  // Does nothing when the folder does not exist yet or is the folder
  // `source`, which is only read.
  void MeetDestination(const std::filesystem::path& destination,
                       const std::filesystem::path& source);

  // Returns the identity of the file or folder `path` names, links
  // followed, or nothing when nothing can be reached there. Throws Error
  // when its disk reaches it under a spelling that cannot be told.
  std::optional<FileId> IdentifyFile(const std::filesystem::path& path);

  // Returns the identity of the folder `path`, an entry (not a link) of the
  // folder whose identity is `parent`, or nothing when it cannot be
  // reached; cheaper than IdentifyFile for a walk down a tree.
  std::optional<FileId> IdentifySubfolder(const FileId& parent,
                                          const std::filesystem::path& path);

  // Notes that the folder `folder` is searched for sources, so that
  // nothing in it is ever removed.
  void NoteSourceFolder(const FileId& folder);

  // Returns true when the folder `folder` was noted as searched for sources.
  bool IsSourceFolder(const FileId& folder) const;

  // From now on only looks, for a run that only tells what it would do:
  // no leftover of an earlier run is removed from the folders read.
  void LookOnly();

  // Returns the place of the copy `path`, as ExistingCopy::place gives it,
  // or nothing when its folder cannot be reached.
  std::optional<CopyPlace> PlaceOf(const std::filesystem::path& path);

  // Returns the whole content of the regular file `path` (a link to one is
  // followed), holding at most about twice its size in memory however the
  // file system cuts the reads, and puts its permission bits in
  // `permissions` when given. Throws Error when it cannot be opened or
  // read, is not a regular file, is larger than kLargestShortcut, or does
  // not read as the size the system gave (it changed while being read); a
  // pipe or device is never read, so this never blocks.
  std::string ReadWholeFile(const std::filesystem::path& path,
                            Permissions* permissions = nullptr);

  // Returns what stands at `path`, where a copy goes: nothing when nothing
  // does, else the regular file there with its content, or, when its
  // content is online only, without it (not read, as that would download
  // it) unless `fetch` says to read it all the same. Throws Error saying why
  // it is left as it is when it is a link, a folder or a device, or larger
  // than any compact copy.
  std::optional<ExistingCopy> ReadExistingCopy(
      const std::filesystem::path& path, bool fetch = false);

  // Returns the size and last-write time of the copy at `path` as this run
  // last read it (ReadExistingCopy) or wrote it, without looking again; none
  // known when that was another file, or the platform keeps none (POSIX).
  FileStamp StampOf(const std::filesystem::path& path) const;

  // Returns the permission bits that the copy at `path`, read last by
  // ReadExistingCopy, has beyond those a copy of a source with
  // `permissions` may have: the source's less the user's umask, and always
  // the user's own read and write, which the next run needs to update it.
  // Returns 0 when it has none, when `path` is not the copy read last or
  // its disk keeps no permissions, for a run that only looks, and on
  // Windows, where a copy takes its folder's access rules.
  Permissions ExcessPermissions(const std::filesystem::path& path,
                                Permissions permissions);

  // Takes `bits` away from the permissions of the copy at `path`, read last
  // by ReadExistingCopy, through the descriptor it was read with, so that
  // only the file that was read is changed; adds none. Throws Error when
  // the system refuses, unless its disk keeps no permissions at all.
  void TakePermissions(const std::filesystem::path& path, Permissions bits);

  // Creates `path`, which must not exist yet, holding `bytes`, readable as
  // `permissions` allow (less the user's umask, always by the user; 0 for
  // the system's default). The name only ever shows the whole content (or,
  // on Windows and on disks without atomic names, for a moment an empty
  // file): the bytes are written under no name, or under a temporary one
  // that no search lists, and then given `path` by a call that refuses a
  // taken name, or a small copy is written to its new name in one call.
  // Returns false, leaving nothing behind, when anything (even a dangling
  // link) already stands at `path`. Throws Error on any other failure,
  // leaving nothing behind either.
  bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes,
                    Permissions permissions = 0);

  // Replaces the file at `path`, which held `expected` when it was read, as
  // a whole with `bytes`, keeping its permissions and, where the user may,
  // its owner. What is replaced is proven to be what was read: when the
  // file changed meanwhile it is put back as it is and Error says so.
  // Throws Error, leaving what stood at `path` untouched, when it is
  // read-only (also for a user, such as root, whom the system would let
  // write it) or cannot be replaced. Given `unread`, the stamp of a file
  // online only that was not read, it is proven the same by that stamp
  // instead, without being read (Windows; elsewhere Error refuses it).
  void ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                   std::string_view expected,
                   const FileStamp* unread = nullptr);

  // Removes the file at `path` when it is a copy Norvale could have
  // written holding `expected`: a regular file, not a link, that is not
  // read-only and holds exactly `expected`, a compact copy
  // (IsCompactIniFile), in the folder whose identity is `*folder` when
  // given. What is removed is proven to be what was looked at, by removing
  // it through what it was read through or by moving it to a temporary name
  // first and looking again; a run killed meanwhile leaves it under its name
  // or under a temporary name that a later run removes as a leftover.
  // Returns false, leaving it as it is, when it is anything else, is gone,
  // or changed meanwhile, or is online only (Windows), as reading it would
  // download it and it is not removed unread. Throws Error when its folder
  // is not `*folder` or
  // its disk refuses. A run that only looks removes nothing, but returns
  // and throws as the removal would, as far as can be told beforehand.
  bool RemoveCopy(const std::filesystem::path& path,
                  const FileId* folder = nullptr,
                  std::string_view expected = {});

  // Removes the folder `folder` when it is empty and no link, and its
  // parent's identity is `*parent` when given. Returns false when it holds
  // anything, is a link or is gone. Throws Error when the parent is another
  // or its disk refuses. A run that only looks removes nothing, but returns
  // true and throws as the removal would where it can tell beforehand.
  bool RemoveEmptyFolder(const std::filesystem::path& folder,
                         const FileId* parent = nullptr);

  // Returns true when another disk is mounted on the folder `folder`, or
  // when that cannot be told; such a folder is never entered to remove
  // anything.
  bool IsMountPoint(const std::filesystem::path& folder);

  // Makes this run the only one writing to the folder `destination` until
  // it ends, so that no other run takes its temporary files for leftovers
  // or its copies for stale ones. Returns false when the folder does not
  // exist yet; throws Error when another run holds it.
  bool LockDestination(const std::filesystem::path& destination);

  // Hides the file `path` from the user's view of the folder, as the
  // platform hides files (a dot name on POSIX needs nothing more).
  void HideFile(const std::filesystem::path& path);

  // The folders this run made, in their full paths.
  const std::unordered_set<std::filesystem::path::string_type>& folders_made()
      const {
    return made_;
  }

  // Enters the folder `folder` for a walk that may remove from it: the
  // first through its path, each later one as an entry of the folder
  // entered last, never through a link, so that the walk stays below where
  // it began whatever is renamed meanwhile. Until LeaveFolder, copies in it
  // are read and removed through the folder entered. Once a run it removes
  // the temporary files a killed run of Norvale's left there, as is done in
  // each folder a copy is written to, and sets `*cleared` when it removed
  // any (never on Windows, whose removals leave none), so that a folder that
  // held only those counts as emptied. Returns false, entering nothing, when
  // it is gone or no longer the folder `id`; throws Error when it cannot be
  // opened.
  bool EnterFolder(const std::filesystem::path& folder, const FileId& id,
                   bool* cleared = nullptr);

  // Leaves the folder entered last, back into the one before it.
  void LeaveFolder();

  // Returns the entries of the folder entered last, as ListFolder does.
  std::vector<FolderEntry> ListEnteredFolder(std::error_code& ec);

  // Notes that the run made `folder`, so that it is flushed with the copies
  // where its disk needs that, and known to hold nothing of an earlier run.
  void NoteFolderMade(const std::filesystem::path& folder);

  // Returns true when the folder of `file` is one this run made.
  bool InFolderMade(const std::filesystem::path& file);

  // Lets go of the folders kept open from one file to the next, so that
  // their disks can be unmounted; also done when the run's work ends.
  void CloseFolders();

  // Makes sure that what the run wrote is on its disks, not only in the
  // system's memory: every disk written to is flushed, and on disks that a
  // whole flush does not reach (FUSE) every folder written to, every
  // folder made and its parent. Throws Error when a disk reports a failure.
  void Flush();

  // What the platform's side keeps; declared by it.
  struct State;

 private:
  using Text = std::filesystem::path::string_type;

  // Returns true, once a run for each folder, when the temporary files a
  // killed run left are to be removed from the folder `folder`, whose
  // identity `id` gives: never for a run that only looks, nor from a folder
  // this run made, which holds none, nor from one searched for sources,
  // which holds only the user's files.
  bool ClaimLeftovers(const Text& folder,
                      const std::function<const FileId&()>& id);

  // Notes that the folder `folder` is gone, so that one made later under
  // its name is cleared of leftovers again.
  void ForgetFolder(const Text& folder) { cleared_.erase(folder); }

  std::unique_ptr<State> state_;
  // What the run notes of its folders, the same on every platform: those it
  // made, which held nothing of an earlier run, and whether the last folder
  // asked about is one of them; those searched for sources; and those
  // cleared of leftovers already.
  std::unordered_set<Text> made_;
  Text last_folder_;
  bool last_folder_made_ = false;
  std::unordered_set<FileId, FileIdHash> source_folders_;
  std::unordered_set<Text> cleared_;
  // A run that only tells what it would do changes nothing, not even a
  // leftover.
  bool look_only_ = false;
};

}  // namespace norvale

#endif  // NORVALE_SERVICES_FILE_WORK_H_
