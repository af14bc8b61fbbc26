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

#include "run/folder_field.h"
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

constexpr std::string_view kSection = "InternetShortcut";
constexpr std::string_view kKey = "URL";
constexpr std::string_view kNoAddress = "about:blank";

// The places of the copies a run has made or left as they were, so that no
// place gets two: two shortcuts can reach one file through a linked folder or
// a destination that ignores letter case. Places are taken only once a copy
// meets an existing file, so a fresh destination never pays for them; a
// copy left as it was brings its place along.
class EarlierCopies {
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

}  // namespace

CompressionRun::CompressionRun(fs::path source, fs::path destination,
                               RunObserver* observer, RunOptions options)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      observer_(observer),
      options_(options) {}

size_t CompressionRun::Run() {
  done_ = total_ = written_ = stale_ = removed_ = 0;
  const bool look_only = options_.look_only;
  cancelled_ = false;
  const fs::path source_folder = FolderFromField(source_, "source");
  const fs::path destination = FolderFromField(destination_, "destination");
  ShellTools& shell = ShellTools::Instance();
  FileTools& files = FileTools::Instance();
  // What the run learns of its disks and folders is its own, and however
  // it ends it keeps no folder open behind it, so a disk it wrote to can be
  // unmounted.
  FileWork work;
  work_ = &work;
  struct Forget {
    FileWork*& work;
    ~Forget() { work = nullptr; }
  } forget{work_};
  // Learning the disk makes a file there; a run that only looks makes none.
  if (look_only) {
    work.LookOnly();
  } else {
    work.MeetDestination(destination, source_folder);
  }

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
    list = shell.FindFiles(source_folder, "*.url", true, on_found, destination,
                           &work);
  } catch (const SearchCancelled&) {
    cancelled_ = true;
    return 0;
  }
  total_ = list.count();

  const size_t cut = source_folder.native().size();
  // One separator between the destination and what goes below it, however
  // many the user typed at its end, so that messages show paths as paths.
  Native destination_text = destination.native();
  const auto ends_in_separator = [&] {
    const fs::path::value_type last = destination_text.back();
    return last == kSeparator || last == '/';
  };
  while (destination_text.size() > 1 && ends_in_separator()) {
    destination_text.pop_back();
  }
  if (!ends_in_separator()) destination_text += kSeparator;
  // The search put the source text at the front of every path, so the cut
  // by position leaves the part below it.
  const auto copy_of = [&](const fs::path& source) {
    const fs::path relative = files.TextFrom(source, cut + 1);
    fs::path folder;
    if (relative.native().find(kSeparator) != Native::npos) {
      folder = shell.RelativeFolder(files.FolderPart(relative));
    }
    Native text = destination_text;
    text += folder.native();
    text += files.FileNamePart(relative, 0).native();
    return fs::path(std::move(text));
  };
  EarlierCopies earlier(
      total_, [&](size_t index) { return copy_of(list[index]); }, work);
  const auto tell = [&](RunObserver::Change change, const Native& copy) {
    if (observer_ == nullptr) return;
    observer_->Changed(change, fs::path(copy.substr(destination_text.size())));
  };
  try {
    // The copies of the shortcuts in one folder share a folder, which is
    // worked out and made once: the list is sorted, so they come together,
    // and taking every path apart would cost a large tree much of its time.
    Native source_folder_text, copies_folder_text;
    std::unordered_set<Native> made;
    for (size_t i = 0; i < total_; ++i) {
      if (observer_ != nullptr && !observer_->Compressing(done_, total_)) {
        cancelled_ = true;
        break;
      }
      const fs::path source = list[i];
      const Native name = files.FileNamePart(source, 0).native();
      const std::basic_string_view<fs::path::value_type> source_folder_now(
          source.native().data(), source.native().size() - name.size());
      fs::path target;
      if (i > 0 && source_folder_now == source_folder_text) {
        target = fs::path(copies_folder_text + name);
      } else {
        target = copy_of(source);
        source_folder_text = source_folder_now;
        copies_folder_text = target.native();
        copies_folder_text.resize(copies_folder_text.size() - name.size());
        const fs::path copies_folder = files.FolderPart(target);
        if (made.insert(copies_folder.native()).second) {
          if (!look_only) {
            files.CreateFolder(copies_folder, work);
          } else if (std::error_code ec;
                     KindOf(copies_folder, ec) == FileKind::kNone) {
            // Would be made, and would hold nothing yet.
            work.NoteFolderMade(copies_folder);
          }
        }
      }
      Permissions permissions = 0;
      const IniText url = files.ReadIniValue(source, kSection, kKey, kNoAddress,
                                             0, work, &permissions);
      std::optional<std::pair<CopyPlace, FileId>> met;
      const bool wrote = files.WriteIniValue(
          target, kSection, kKey, url, list, work, permissions,
          [&](const ExistingCopy& existing) {
            const auto first = earlier.Find(existing, i);
            if (first) {
              throw Error("Could not write", target,
                          "The copy of \"" + list[*first].u8string() +
                              "\" is there already from earlier in this "
                              "run, and two shortcuts cannot share one copy");
            }
            met.emplace(existing.place, existing.id);
          },
          look_only);
      if (wrote) {
        ++written_;
        if (look_only && !met) earlier.Absent(i);
        tell(met ? RunObserver::Change::kReplaced
                 : RunObserver::Change::kCreated,
             target.native());
      } else if (met) {
        earlier.Keep(met->first, met->second, i);
      }
      ++done_;
    }
  } catch (const Error& failure) {
    // What was written before a failure is on the disk before the run says
    // how many were.
    if (written_ > 0 && !look_only) {
      try {
        Flush();
      } catch (const Error& flush_failure) {
        throw Error(std::string(failure.what()) + ". Then", "",
                    flush_failure.what());
      }
    }
    throw;
  }
  if (observer_ != nullptr && !cancelled_) {
    observer_->Compressing(done_, total_);
  }
  // Only after every copy is done: a run stopped or failed half-way has not
  // told which copies still have a shortcut. The search has read every
  // source folder, or the run would have failed.
  if (!cancelled_ &&
      !StaleCopies::InsideSource(source_folder, destination, work)) {
    StaleCopies stale(source_folder, destination_text, list, work);
    try {
      stale.Find(options_.remove_stale, look_only,
                 [&](const fs::path& copy, bool removed) {
                   if (removed)
                     tell(RunObserver::Change::kRemoved, copy.native());
                 });
    } catch (const Error&) {
      stale_ = stale.found();
      removed_ = stale.removed();
      if (!look_only && (written_ > 0 || removed_ > 0)) Flush();
      throw;
    }
    stale_ = stale.found();
    removed_ = stale.removed();
  }
  // What was written is on the disk before the run says it is done, also
  // when it was stopped half-way.
  if (!look_only && (written_ > 0 || removed_ > 0)) Flush();
  return done_;
}

void CompressionRun::Flush() {
  FileWork& work = *work_;
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
