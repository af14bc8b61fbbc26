// Runs on real folders that fail: a full disk, a kill half-way, a disk that
// cannot flush, a source that cannot be seen whole. Each must stop with an
// error naming the path and lose nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run/compression_run.h"
#include "run/run_report.h"
#include "services/posix/temporary_files.h"
#include "testing/test_faults.h"
#include "testing/test_folder.h"
#include "testing/test_record.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Returns the number of copies below `out`, each checked to be whole; any
// other file left there fails the test.
size_t WholeCopies(const fs::path& out) {
  std::string others;
  const Files copies = Tree(out, &others);
  EXPECT_EQ(others, "") << "left behind";
  for (const auto& [name, bytes] : copies)
    EXPECT_EQ(bytes, Compact("https://www.example.com/")) << name;
  return copies.size();
}

// A disk full in the middle of writing a copy, on every kind of file system,
// leaves only whole copies and is named; the next run completes the rest.
// Every run that wrote flushes the destination's disk once, reporting a
// failure, and keeps nothing of either disk open, so it can be unmounted.
TEST(FaultTest, AFailingDiskLosesNothingAndEveryRunIsFlushed) {
  TestFolder source;
  Fill(source, 6, "https://www.example.com/");
  const faults::Plan file_systems[] = {
      {},
      {.no_unnamed_files = true},
      {.no_unnamed_files = true, .no_noreplace_rename = true},
      {.no_unnamed_files = true,
       .no_noreplace_rename = true,
       .no_hard_links = true},
      {.no_descriptor_link = true},
  };
  for (size_t i = 0; i < std::size(file_systems); ++i) {
    for (const int at : {1, 4}) {
      SCOPED_TRACE("file system " + std::to_string(i) + ", full at write " +
                   std::to_string(at));
      TestFolder dest;
      faults::Plan plan = file_systems[i];
      plan.disk_full_at_write = at;
      {
        faults::Scoped faults(plan);
        CompressionRun run(source.path(), dest.path());
        const std::string message = ErrorOf([&] { run.Run(); });
        EXPECT_NE(message.find(": No space left on device"), std::string::npos)
            << message;
        EXPECT_EQ(run.done(), static_cast<size_t>(at - 1));
      }
      EXPECT_EQ(WholeCopies(dest.path()), static_cast<size_t>(at - 1));
      EXPECT_EQ(CompressionRun(source.path(), dest.path()).Run(), 6u);
      EXPECT_EQ(WholeCopies(dest.path()), 6u);
    }
  }

  // Told of the flush, as a window is, it runs on a thread of its own.
  struct : RunObserver {
    bool Searching(size_t, size_t) override { return true; }
    bool Compressing(size_t, size_t) override { return true; }
    void Flushing() override {}
  } window;
  const struct {
    const char* dest;
    int flush_error;
    size_t flushes;
    const char* said;
  } cases[] = {
      {"Out", 0, 1, ""},
      // Nothing needed writing.
      {"Out", 0, 0, ""},
      // A run that fails after writing flushes what it wrote first.
      {"Blocked", 0, 1, "/Blocked/F1/s1.url\": A folder of that name"},
      {"Failing", EIO, 1, "/Failing/F0\": Input/output error"},
  };
  for (RunObserver* observer : {static_cast<RunObserver*>(nullptr),
                                static_cast<RunObserver*>(&window)}) {
    TestFolder dest;
    fs::create_directories(dest.path() / "Blocked/F1/s1.url");
    for (const auto& c : cases) {
      faults::Scoped faults({.flush_error = c.flush_error});
      const std::string message = ErrorOf([&] {
        CompressionRun(source.path(), dest.path() / c.dest, observer).Run();
      });
      EXPECT_EQ(faults.seen().flushes, c.flushes) << c.dest;
      EXPECT_NE(message.find(c.said), std::string::npos) << message;
      EXPECT_EQ(message.empty(), *c.said == '\0') << message;
    }
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      EXPECT_NE(fs::read_symlink(fd, ec).string().rfind(source.path(), 0), 0u);
      EXPECT_NE(fs::read_symlink(fd, ec).string().rfind(dest.path(), 0), 0u);
    }
  }
}

// A read cut short (a FUSE daemon, the file rewritten meanwhile) is never
// written: not as a copy, nor as what a replaced copy is put back with.
TEST(FaultTest, AFileReadShortIsNeverWritten) {
  TestFolder source, dest;
  source.Write("a.url", Shortcut("https://www.example.com/"));
  {
    faults::Scoped faults({.reads_end_at = 20});
    EXPECT_NE(ErrorOf([&] {
                CompressionRun(source.path(), dest.path()).Run();
              }).find("a.url\": It changed while Norvale was reading it"),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dest.path() / "a.url"));
  // Without a swap of two names, what was replaced is read back through
  // what was held, and here rewritten and read short.
  const fs::path copy = dest.Write("a.url", Compact("http://old/"));
  const std::string user = Shortcut("http://user/");
  std::string message;
  {
    faults::Scoped faults({.no_noreplace_rename = true, .before_rename = [&] {
                             std::ofstream(copy, std::ios::binary) << user;
                             faults::EndReadsAt(20);
                           }});
    message =
        ErrorOf([&] { CompressionRun(source.path(), dest.path()).Run(); });
  }
  EXPECT_NE(message.find("could not be read back whole"), std::string::npos)
      << message;
  EXPECT_NE(ReadBytes(copy), user.substr(0, 20));
}

// What the search cannot see of the source stops the run, naming it, before
// anything is written or removed (--delete would remove the copies of what
// is hidden): an unreadable folder, an entry a disk without entry types
// cannot tell, a link named like a shortcut that leads nowhere reachable.
// An entry gone meanwhile, and a link named otherwise, are nothing to the
// run. Run as a user who is not root, since root reads any folder.
TEST(FaultTest, WhatTheSearchCannotSeeStopsTheRun) {
  const fs::perms none = fs::perms::none, read = fs::perms::owner_read;
  const struct {
    const char* locked;  // Given `mode`, when not null.
    fs::perms mode;
    const char *link, *target;  // A link in Fav, when not null.
    bool types_unknown;
    int look_error;               // Asking what `fails_at` is fails with it.
    const char *fails_at, *said;  // The error's end; null when it finishes.
  } cases[] = {
      {"Fav/Sub", none, nullptr, nullptr, false, 0, "",
       "Fav/Sub\": Permission denied"},
      {"Fav/Sub", read, nullptr, nullptr, true, 0, "",
       "Fav/Sub/In\": Permission denied"},
      {nullptr, none, nullptr, nullptr, true, EIO, "Sub",
       "Fav/Sub\": Input/output error"},
      {"private", none, "p.url", "../private/p.url", false, 0, "",
       "Fav/p.url\": Permission denied"},
      {nullptr, none, "d.url", "gone", false, 0, "",
       "d.url\": No such file or directory"},
      {nullptr, none, "o.url", "o.url", true, 0, "",
       "o.url\": Too many levels of symbolic links"},
      {nullptr, none, "l.url", "a.url", false, EIO, "l.url",
       "l.url\": Input/output error"},
      {nullptr, none, "d", "gone", true, 0, "", nullptr},
      {nullptr, none, nullptr, nullptr, true, ENOENT, "a.url", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said ? c.said : c.link ? c.link : "gone meanwhile");
    TestFolder root;
    root.Write("Fav/a.url", Shortcut("http://a/"));
    root.Write("Fav/Sub/In/b.url", Shortcut("http://b/"));
    root.Write("private/p.url", Shortcut("http://p/"));
    const fs::path copy = root.Write("Out/Sub/In/b.url", Compact("http://b/"));
    // Norvale's own, so that only the search keeps it from going.
    PlantRecord(root.path() / "Out", root.path() / "Fav",
                {{"Sub/In/b.url", Compact("http://b/")}}, {"Sub", "Sub/In"});
    if (c.link) fs::create_symlink(c.target, root.path() / "Fav" / c.link);
    if (c.locked) fs::permissions(root.path() / c.locked, c.mode);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::geteuid() == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(root.path()))
          ::lchown(entry.path().c_str(), 65534, 65534);
        ::chown(root.path().c_str(), 65534, 65534);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      }
      faults::Plan plan;
      plan.types_unknown = c.types_unknown;
      plan.look_error = c.look_error;
      plan.look_fails_at = c.fails_at;
      faults::Scoped faults(plan);
      CompressionRun run(root.path() / "Fav", root.path() / "Out", nullptr,
                         {.remove_stale = true});
      const Message told = RunAndReport(run);
      const std::string text =
          (told.icon == Message::Icon::kError ? "! " : "") + told.text;
      ::_exit(::write(pipe[1], text.data(), text.size()) < 0);
    }
    ::close(pipe[1]);
    std::string told;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof(buffer))) > 0;)
      told.append(buffer, static_cast<size_t>(got));
    ::close(pipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (c.said) {
      EXPECT_EQ(told.rfind("! ", 0), 0u) << told;
      EXPECT_NE(
          told.find("/" + std::string(c.said) + "\n\nNo shortcut was written."),
          std::string::npos)
          << told;
    } else {
      EXPECT_EQ(told.rfind("Compressed ", 0), 0u) << told;
    }
    EXPECT_EQ(ReadBytes(copy), Compact("http://b/"));
    if (c.locked) fs::permissions(root.path() / c.locked, fs::perms::owner_all);
  }
}

// A file another program makes at the very name Norvale is about to give
// one, on any file system, is never replaced: a temporary name found taken
// is given up for another, a copy's keeps what stands there, and a copy
// being removed that changed meanwhile is kept under a name the message
// gives. One that vanished meanwhile is named nowhere.
TEST(FaultTest, ANameTakenMeanwhileIsNeverReplaced) {
  const faults::Plan file_systems[] = {
      {.no_unnamed_files = true},
      {.no_unnamed_files = true, .no_noreplace_rename = true},
      {.no_unnamed_files = true,
       .no_noreplace_rename = true,
       .no_hard_links = true},
  };
  // Larger than a copy written in one call where names are not atomic.
  const std::string large = "http://a/" + std::string(5000, 'x');
  const std::string changed = Shortcut("http://changed/");
  const struct {
    bool remove;
    std::string url, taken;
    bool change, vanish;
    std::string said;
  } cases[] = {
      {true, "http://a/", "~NV", false, false, ""},
      {false, large, "~NV", false, false, ""},
      {false, "http://a/", "a.url", false, false, "a.url\": It holds more"},
      {false, large, "a.url", false, false, "a.url\": It holds more"},
      {true, "http://a/", "gone.url", true, false,
       "gone.url\": It changed while Norvale was removing it; what it held "
       "is kept beside it as \""},
      {true, "http://a/", "", false, true, ""},
  };
  for (size_t i = 0; i < std::size(file_systems); ++i) {
    for (const auto& c : cases) {
      SCOPED_TRACE("file system " + std::to_string(i) + ", case " +
                   std::to_string(&c - cases));
      TestFolder source, dest;
      // A copy before it teaches Norvale the file system's ways, as a run
      // would, so that a.url goes by what the file system allows.
      source.Write("0.url", Shortcut("http://0/"));
      source.Write("a.url", Shortcut(c.url));
      // A copy of Norvale's own whose shortcut is then gone.
      if (c.remove) {
        source.Write("gone.url", Shortcut("http://g/"));
        ASSERT_EQ(CompressionRun(source.path(), dest.path()).Run(), 3u);
        fs::remove(source.path() / "gone.url");
      }
      faults::Plan plan = file_systems[i];
      std::string planted;
      plan.before_name_taken = [&](const char* name) {
        if (planted.empty() && !c.taken.empty() &&
            std::string(name).rfind(c.taken, 0) == 0) {
          dest.Write(planted = name, "mine");
        }
      };
      if (c.change) {
        plan.before_rename = [&] { dest.Write("gone.url", changed); };
      }
      plan.before_open = [&](const char* name) {
        std::error_code ec;
        if (c.vanish && name[0] == '~') fs::remove(dest.path() / name, ec);
      };
      std::string message;
      {
        faults::Scoped faults(plan);
        CompressionRun run(source.path(), dest.path(), nullptr,
                           {.remove_stale = c.remove});
        message = ErrorOf([&] { run.Run(); });
      }
      EXPECT_NE(message.find(c.said), std::string::npos) << message;
      EXPECT_EQ(message.empty(), c.said.empty()) << message;
      EXPECT_EQ(planted.empty(), c.taken.empty());
      if (!planted.empty()) EXPECT_EQ(ReadBytes(dest.path() / planted), "mine");
      const size_t kept = message.find("kept beside it as \"");
      if (kept != std::string::npos) {
        const size_t from = kept + 19;
        const std::string name =
            message.substr(from, message.find('"', from) - from);
        EXPECT_EQ(ReadBytes(dest.path() / name), changed) << name;
      }
      if (c.remove && !c.change && !c.vanish)
        EXPECT_FALSE(fs::exists(dest.path() / "gone.url"));
      if (!c.remove && c.taken == "~NV")
        EXPECT_EQ(ReadBytes(dest.path() / "a.url"), Compact(c.url));
    }
  }
}

// Two runs started alike (forked from one parent, or the same process id in
// a container) take different temporary names, which none can foresee.
TEST(FaultTest, TemporaryNamesDifferFromOneRunToTheNext) {
  TemporaryName();
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const pid_t child = ::fork();
  const std::string names = TemporaryName() + TemporaryName();
  if (child == 0) ::_exit(::write(ends[1], names.data(), names.size()) > 0);
  char theirs[32] = {};
  EXPECT_EQ(::read(ends[0], theirs, sizeof(theirs)), 24);
  ::waitpid(child, nullptr, 0);
  EXPECT_NE(names, theirs);
}

// A source, also when it is the destination or lies inside it, is only
// read, not even probed; a run that only looks neither replaces an
// out-of-date copy nor makes a folder.
TEST(FaultTest, ARunChangesOnlyWhatItMay) {
  const struct {
    const char *source, *dest;
    bool look_only;
    std::vector<std::string> files;
  } cases[] = {
      {"Fav", "Fav", false, {"Fav/a.url", "Fav/New/b.url"}},
      // The copy of Fav/Fav/c.url would be Fav/c.url.
      {"Fav", ".", false, {"Fav/Fav/c.url"}},
      {"Fav", "Out", true, {"Fav/a.url", "Fav/New/b.url"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.dest);
    TestFolder root;
    for (const std::string& file : c.files)
      root.Write(file, Compact("http://x/"));
    root.Write("Out/a.url", Compact("http://old/"));
    const auto snapshot = [&] {
      std::string all;
      for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        all += entry.path().string() + "\n";
        if (entry.is_regular_file()) all += ReadBytes(entry.path()) + "\n";
      }
      return all;
    };
    const std::string before = snapshot();
    faults::Plan plan;
    std::string taken;
    plan.before_name_taken = [&](const char* name) { taken += name; };
    {
      faults::Scoped faults(plan);
      CompressionRun run(root.path() / c.source, root.path() / c.dest, nullptr,
                         {.look_only = c.look_only});
      RunAndReport(run);
      EXPECT_EQ(faults.seen().writes + faults.seen().renames, 0u);
    }
    EXPECT_EQ(taken, "");
    EXPECT_EQ(snapshot(), before);
  }
}

// A folder swapped for a link while --delete walks it leads no removal out
// of the destination: the walk keeps to the folders it opened, and stops.
TEST(FaultTest, AFolderSwappedForALinkLeadsNoRemovalOut) {
  TestFolder root, elsewhere;
  root.Write("Src/a.url", Shortcut("http://a/"));
  root.Write("Src/Old/c.url", Shortcut("http://c/"));
  CompressionRun(root.path() / "Src", root.path() / "Out").Run();
  fs::remove_all(root.path() / "Src/Old");
  // What the link leads to holds what the record names, byte for byte.
  elsewhere.Write("c.url", Compact("http://c/"));
  faults::Plan plan;
  bool swapped = false;
  plan.before_open = [&](const char* name) {
    if (swapped || std::string(name) != "Old") return;
    swapped = true;
    fs::rename(root.path() / "Out/Old", root.path() / "Out/Moved");
    fs::create_directory_symlink(elsewhere.path(), root.path() / "Out/Old");
  };
  std::string said;
  {
    faults::Scoped faults(plan);
    CompressionRun run(root.path() / "Src", root.path() / "Out", nullptr,
                       {.remove_stale = true});
    said = RunAndReport(run).text;
  }
  EXPECT_TRUE(swapped);
  EXPECT_NE(said.find("Out/Old\": It changed while Norvale was looking at it"),
            std::string::npos)
      << said;
  EXPECT_EQ(ReadBytes(elsewhere.path() / "c.url"), Compact("http://c/"));
  EXPECT_EQ(ReadBytes(root.path() / "Out/Moved/c.url"), Compact("http://c/"));
}

}  // namespace
}  // namespace norvale
