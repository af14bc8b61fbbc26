#include "run/compression_run.h"

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ini/ini_format.h"
#include "ini/shortcut.h"
#include "run/copy_record.h"
#include "run/folder_field.h"
#include "run/run_record.h"
#include "run/stale_copies.h"
#include "services/error.h"
#include "services/file_tools.h"
#include "services/file_work.h"
#include "services/folder_io.h"
#include "services/shell_tools.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Native = fs::path::string_type;
constexpr fs::path::value_type kSeparator = fs::path::preferred_separator;

constexpr std::string_view kNoAddress = "about:blank";

}  // namespace

// The places of the copies a run has made or left as they were, so that no
// place gets two: two shortcuts can reach one file through a linked folder or
// a destination that ignores letter case. Places are taken only once a copy
// meets an existing file, so a fresh destination never pays for them; a
// copy left as it was brings its place along.
class CompressionRun::EarlierCopies {
 public:
  EarlierCopies(size_t count, std::function<fs::path(size_t)> copy_of,
                FileWork& work)
      : copy_of_(std::move(copy_of)), work_(work), known_(count, false) {}

  // Returns the shortcut before `index` whose copy is at the place of
  // `existing`.
  std::optional<size_t> Find(const ExistingCopy& existing, size_t index) {
    for (; identified_ < index; ++identified_) {
      if (known_[identified_]) continue;
      const fs::path copy = copy_of_(identified_);
      if (const auto place = work_.PlaceOf(copy)) {
        places_.emplace(*place, identified_);
      }
      if (const auto id = work_.IdentifyFile(copy)) {
        ids_.emplace(*id, identified_);
      }
    }
    const auto at = places_.find(existing.place);
    if (at != places_.end()) return at->second;
    // Through another name of the folder, or another spelling of the name:
    // one file with one name is one place.
    if (existing.id_is_place) {
      const auto same = ids_.find(existing.id);
      if (same != ids_.end()) return same->second;
    }
    return std::nullopt;
  }

  // Notes that the copy of `index` is not there: a run that only looks
  // would have made it, and it has no place to ask about.
  void Absent(size_t index) { known_[index] = true; }

  // Returns the shortcut before `index` whose copy, not there yet, a run
  // that only looks would have made at `place`.
  std::optional<size_t> FindPlace(const CopyPlace& place, size_t index) {
    const auto at = places_.find(place);
    if (at != places_.end() && at->second < index) return at->second;
    return std::nullopt;
  }

  // Notes that a run that only looks would make the copy of `index` at
  // `place`.
  void KeepPlace(const CopyPlace& place, size_t index) {
    places_.emplace(place, index);
    known_[index] = true;
  }

  // Notes that the copy of `index`, left as it was, is the file `id` at
  // `place`.
  void Keep(const CopyPlace& place, const FileId& id, size_t index) {
    places_.emplace(place, index);
    ids_.emplace(id, index);
    known_[index] = true;
  }

 private:
  std::function<fs::path(size_t)> copy_of_;
  FileWork& work_;
  std::unordered_map<CopyPlace, size_t, CopyPlaceHash> places_;
  std::unordered_map<FileId, size_t, FileIdHash> ids_;
  std::vector<bool> known_;
  size_t identified_ = 0;
};

class CompressionRun::Places {
 public:
  // The copies of a run from the folder `source` to the folder
  // `destination`, as FolderFromField gave them.
  Places(fs::path source, fs::path destination)
      : source_(std::move(source)), destination_(std::move(destination)) {
    // One separator between the destination and what goes below it,
    // however many the user typed at its end, so that messages show paths
    // as paths.
    text_ = destination_.native();
    while (text_.size() > 1 && IsSeparator(text_.back())) text_.pop_back();
    if (!IsSeparator(text_.back())) text_ += kSeparator;
  }

  const fs::path& source() const { return source_; }
  const fs::path& destination() const { return destination_; }
  // The destination's text, ending in one separator.
  const Native& text() const { return text_; }

  // Returns the path of the copy of `shortcut`, a path the search gave.
  fs::path CopyOf(const fs::path& shortcut) const {
    FileTools& files = FileTools::Instance();
    // The search put the source text at the front of every path, so the
    // cut by position leaves the part below it.
    const fs::path relative =
        files.TextFrom(shortcut, source_.native().size() + 1);
    fs::path folder;
    if (relative.native().find(kSeparator) != Native::npos) {
      folder =
          ShellTools::Instance().RelativeFolder(files.FolderPart(relative));
    }
    Native text = text_;
    text += folder.native();
    text += files.FileNamePart(relative, 0).native();
    return fs::path(std::move(text));
  }

  // Returns the path below the destination of `copy`, a path in it.
  Native Below(const Native& copy) const { return copy.substr(text_.size()); }

 private:
  fs::path source_;
  fs::path destination_;
  Native text_;
};

CompressionRun::CompressionRun(fs::path source, fs::path destination,
                               RunObserver* observer, RunOptions options)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      observer_(observer),
      options_(options) {}

size_t CompressionRun::Run() {
  done_ = total_ = written_ = stale_ = removed_ = unrecorded_ = 0;
  left_online_ = online_only_ = 0;
  record_state_ = RecordState::kNone;
  cancelled_ = false;
  fs::path source = FolderFromField(source_, "source");
  const Places places(std::move(source),
                      FolderFromField(destination_, "destination"));
  // What the run learns of its disks and folders is its own, and however
  // it ends it keeps no folder open behind it, so a disk it wrote to can be
  // unmounted.
  FileWork work;
  // One run at a time writes to a destination, from before anything is
  // made there; a destination made by this run is locked once made.
  const bool locked =
      options_.look_only || work.LockDestination(places.destination());
  // Learning the disk makes a file there; a run that only looks makes none.
  if (options_.look_only) {
    work.LookOnly();
  } else {
    work.MeetDestination(places.destination(), places.source());
  }
  const bool holds_source = RefuseMixedRemoval(places, work);
  RunRecord record(places.source(), places.destination(), places.text(),
                   holds_source, options_.look_only, work);
  record_state_ = record.state();

  const PathList list = Search(places, record, work);
  if (cancelled_) return 0;
  try {
    Copy(list, places, holds_source, locked, record, work);
  } catch (const Error& failure) {
    // What was written before a failure is on the disk, and in the record,
    // before the run says how many were.
    Settle(failure, record.read(), record, work);
    throw;
  }
  if (observer_ != nullptr && !cancelled_) {
    observer_->Compressing(done_, total_);
  }
  // Only after every copy is done: a run stopped or failed half-way has not
  // told which copies still have a shortcut. The search has read every
  // source folder and told every entry, or the run would have failed.
  std::optional<StaleCopies> stale;
  if (!cancelled_ && !holds_source &&
      !StaleCopies::InsideSource(places.source(), places.destination(), work)) {
    stale.emplace(places.source(), places.text(), list, work, record.read());
    Remove(*stale, places, record, work);
  }
  // What was written is on the disk before the run says it is done, also
  // when it was stopped half-way.
  Finish(stale ? &stale->still_recorded() : record.read(), record, work);
  return done_;
}

bool CompressionRun::RefuseMixedRemoval(const Places& places, FileWork& work) {
  // Nothing is ever removed from a destination that is the source, lies
  // inside it or holds it: there copies and shortcuts mix.
  const bool holds_source =
      StaleCopies::IsWithin(places.source(), places.destination(), work);
  if (options_.remove_stale &&
      (holds_source ||
       StaleCopies::IsWithin(places.destination(), places.source(), work))) {
    throw Error("Could not remove stale copies from", places.destination(),
                holds_source ? "It holds the source folder, and --delete "
                               "never removes anything there"
                             : "It lies inside the source folder, and "
                               "--delete never removes anything there");
  }
  return holds_source;
}

PathList CompressionRun::Search(const Places& places, const RunRecord& record,
                                FileWork& work) {
  ShellTools::FoundCallback on_found;
  if (observer_ != nullptr) {
    on_found = [this](size_t looked_at, size_t found) {
      return observer_->Searching(looked_at, found);
    };
  }
  PathList list;
  try {
    // A destination inside the source holds copies, which are not copied
    // again.
    list = ShellTools::Instance().FindFiles(
        places.source(), "*.url", true, on_found, places.destination(), &work);
  } catch (const SearchCancelled&) {
    cancelled_ = true;
    return list;
  }
  total_ = list.count();
  // A source that holds nothing looks like a disk that is not mounted.
  const CopyRecord* earlier = record.read();
  if (options_.remove_stale && total_ == 0 && earlier != nullptr &&
      !earlier->copies.empty() && !options_.remove_all) {
    throw Error("Could not remove stale copies from", places.destination(),
                "The source holds no shortcut, as a disk that is not mounted "
                "looks, while Norvale wrote " +
                    std::to_string(earlier->copies.size()) +
                    (earlier->copies.size() == 1 ? " copy" : " copies") +
                    " there; to remove them all, use --delete-all");
  }
  return list;
}

void CompressionRun::Copy(const PathList& list, const Places& places,
                          bool holds_source, bool locked, RunRecord& record,
                          FileWork& work) {
  FileTools& files = FileTools::Instance();
  const bool look_only = options_.look_only;
  EarlierCopies earlier(
      total_, [&](size_t index) { return places.CopyOf(list[index]); }, work);
  // The copies of the shortcuts in one folder share a folder, which is
  // worked out and made once: the list is sorted, so they come together,
  // and taking every path apart would cost a large tree much of its time.
  Native source_folder_text, copies_folder_text;
  std::unordered_set<Native> made;
  bool copies_in_source = false;
  for (size_t i = 0; i < total_; ++i) {
    if (observer_ != nullptr && !observer_->Compressing(done_, total_)) {
      cancelled_ = true;
      return;
    }
    const fs::path source = list[i];
    const Native name = files.FileNamePart(source, 0).native();
    const std::basic_string_view<fs::path::value_type> source_folder_now(
        source.native().data(), source.native().size() - name.size());
    fs::path target;
    if (i > 0 && source_folder_now == source_folder_text) {
      target = fs::path(copies_folder_text + name);
    } else {
      target = places.CopyOf(source);
      source_folder_text = source_folder_now;
      copies_folder_text = target.native();
      copies_folder_text.resize(copies_folder_text.size() - name.size());
      const fs::path copies_folder = files.FolderPart(target);
      if (made.insert(copies_folder.native()).second) {
        if (!look_only) {
          files.CreateFolder(copies_folder, work);
          if (!locked) locked = work.LockDestination(places.destination());
        } else if (files.WouldCreateFolder(copies_folder)) {
          // Would be made, and would hold nothing yet.
          work.NoteFolderMade(copies_folder);
        }
      }
      // A destination holding the source may lead a copy back into it.
      if (holds_source) {
        const std::optional<FileId> id = work.IdentifyFile(copies_folder);
        copies_in_source = id && work.IsSourceFolder(*id);
      }
    }
    // There only the shortcuts themselves may stand, left as they are.
    if (copies_in_source) {
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(target, ec))) {
        throw Error("Could not write", target,
                    "Its folder is a source folder, which Norvale only "
                    "reads");
      }
    }
    CopyOne(list, i, target, places, earlier, record, work);
  }
}

void CompressionRun::CopyOne(const PathList& list, size_t i,
                             const fs::path& target, const Places& places,
                             EarlierCopies& earlier, RunRecord& record,
                             FileWork& work) {
  FileTools& files = FileTools::Instance();
  const bool look_only = options_.look_only;
  Permissions permissions = 0;
  const IniText url =
      files.ReadIniValue(list[i], kShortcutSection, kShortcutKey, kNoAddress, 0,
                         work, &permissions);
  const auto shared = [&](size_t first) {
    return Error("Could not write", target,
                 "The copy of \"" + list[first].u8string() +
                     "\" is there already from earlier in this run, and "
                     "two shortcuts cannot share one copy");
  };
  const Native relative = places.Below(target.native());
  // What the record says of this copy proves one online only, which is
  // not read, Norvale's: while it keeps the stamp recorded, it holds
  // what the fingerprint recorded says.
  const uint64_t fingerprint =
      Fingerprint(ComposeIniFile(kShortcutSection, kShortcutKey, url));
  const RecordedCopy* recorded = nullptr;
  std::optional<CopyProof> proof;
  if (record.read() != nullptr) {
    const auto at = record.read()->copies.find(relative);
    if (at != record.read()->copies.end()) {
      recorded = &at->second;
      proof =
          CopyProof{at->second.stamp, at->second.fingerprint == fingerprint};
    }
  }
  std::optional<std::pair<CopyPlace, FileId>> met;
  const CopyOutcome outcome = files.WriteIniValue(
      target, kShortcutSection, kShortcutKey, url, list, work, permissions,
      [&](const ExistingCopy& existing) {
        if (const auto first = earlier.Find(existing, i)) {
          throw shared(*first);
        }
        met.emplace(existing.place, existing.id);
      },
      look_only, proof ? &*proof : nullptr);
  if (outcome == CopyOutcome::kWritten) {
    ++written_;
    if (look_only && !met) {
      // Two copies that would be made at one place, through a linked
      // folder, stop the real run at the second: so here.
      std::optional<CopyPlace> place;
      try {
        place = work.PlaceOf(target);
      } catch (const Error&) {
        // A name a disk that ignores case has no spelling for yet.
      }
      if (!place) {
        earlier.Absent(i);
      } else if (const auto first = earlier.FindPlace(*place, i)) {
        throw shared(*first);
      } else {
        earlier.KeepPlace(*place, i);
      }
    }
    Tell(met ? RunObserver::Change::kReplaced : RunObserver::Change::kCreated,
         target, places);
  } else if (met) {
    earlier.Keep(met->first, met->second, i);
  }
  if (outcome == CopyOutcome::kOnlineOnly) {
    ++left_online_;
    ++online_only_;
    Tell(RunObserver::Change::kOnlineOnly, target, places);
  }
  // A copy left unchecked keeps what the record said of it, if anything.
  if (record.keeping() && outcome != CopyOutcome::kOnlineOnly) {
    record.Add(relative, RecordedCopy{fingerprint, work.StampOf(target)});
  } else if (recorded != nullptr) {
    record.Add(relative, *recorded);
  }
  ++done_;
}

void CompressionRun::Remove(StaleCopies& stale, const Places& places,
                            RunRecord& record, FileWork& work) {
  const auto on_stale = [&](const fs::path& path, StaleCopies::Fate fate) {
    switch (fate) {
      case StaleCopies::Fate::kRemoved:
        Tell(RunObserver::Change::kRemoved, path, places);
        break;
      case StaleCopies::Fate::kUnrecorded:
        // What --delete keeps is told only to a run that removes.
        if (options_.remove_stale) {
          Tell(RunObserver::Change::kNotRecorded, path, places);
        }
        break;
      case StaleCopies::Fate::kOnlineOnly:
        Tell(RunObserver::Change::kOnlineOnly, path, places);
        break;
    }
  };
  // Ctrl+C and Cancel stop the removals at the next copy.
  const auto go_on = [&] {
    return observer_ == nullptr || observer_->Compressing(done_, total_);
  };
  try {
    cancelled_ =
        !stale.Find(options_.remove_stale, options_.look_only, on_stale, go_on);
  } catch (const Error& failure) {
    stale_ = stale.found();
    removed_ = stale.removed();
    unrecorded_ = stale.unrecorded();
    online_only_ += stale.online_only();
    Settle(failure, &stale.still_recorded(), record, work);
    throw;
  }
  stale_ = stale.found();
  removed_ = stale.removed();
  unrecorded_ = stale.unrecorded();
  online_only_ += stale.online_only();
}

void CompressionRun::Tell(RunObserver::Change change, const fs::path& copy,
                          const Places& places) {
  if (observer_ == nullptr) return;
  observer_->Changed(change, fs::path(places.Below(copy.native())));
}

void CompressionRun::Finish(const CopyRecord* still, RunRecord& record,
                            FileWork& work) {
  record.Write(still, work);
  if (!options_.look_only &&
      (written_ > 0 || removed_ > 0 || record.written())) {
    Flush(work);
  }
}

void CompressionRun::Settle(const Error& failure, const CopyRecord* still,
                            RunRecord& record, FileWork& work) {
  // A failure meanwhile is told after the first.
  if (options_.look_only) return;
  try {
    Finish(still, record, work);
  } catch (const Error& then) {
    throw Error(std::string(failure.what()) + ". Then", "", then.what());
  }
}

void CompressionRun::Flush(FileWork& work) {
  if (observer_ == nullptr) {
    work.Flush();
    return;
  }
  // A slow disk, such as a USB stick, can take seconds; the observer keeps
  // being told meanwhile, so a window showing it stays alive.
  std::future<void> flushed =
      std::async(std::launch::async, [&work] { work.Flush(); });
  while (flushed.wait_for(std::chrono::milliseconds(20)) !=
         std::future_status::ready) {
    observer_->Flushing();
  }
  flushed.get();
}

}  // namespace norvale
