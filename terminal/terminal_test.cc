// Tests of the command line, and of the Norvale executable run as a script
// or a person at a terminal would run it: with no display, reading its exit
// status and what it prints.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "terminal/command_line.h"
#include "testing/test_folder.h"
#include "testing/test_record.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Action = CommandLine::Action;

// What the program printed and how it ended: its exit status, or the
// signal that ended it.
struct Outcome {
  int status = -1, signal = 0;
  std::string out, err;
};

// Runs Norvale in `folder` with `arguments` and no display, on a disk that
// is `slow` ("flush" or "write") when given, its output a terminal when
// `terminal`, else a pipe; `watch` sees the output so far and the process
// every few milliseconds.
Outcome Start(
    const fs::path& folder, std::vector<std::string> arguments,
    bool terminal = false,
    const std::function<void(const std::string&, pid_t)>& watch = nullptr,
    const char* slow = nullptr) {
  std::vector<char*> argv{const_cast<char*>(NORVALE_PROGRAM)};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int out[2];
  EXPECT_EQ(terminal ? ::openpty(&out[0], &out[1], nullptr, nullptr, nullptr)
                     : ::pipe(out),
            0);
  FILE* err = std::tmpfile();
  const pid_t pid = ::fork();
  if (pid == 0) {  // the test is one thread, so the child may do as it likes
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      ::unsetenv(name);
    if (slow != nullptr) {
      ::setenv("LD_PRELOAD", NORVALE_SLOW_DISK, 1);
      ::setenv("NORVALE_SLOW", slow, 1);
      // Under the address sanitizer, whose library would come first.
      ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    if (::chdir(folder.c_str()) == 0 && ::dup2(out[1], 1) == 1 &&
        ::dup2(::fileno(err), 2) == 2)
      ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Outcome outcome;
  char buffer[4096];
  // Until the end: a terminal whose program has ended says EIO.
  for (;;) {
    pollfd ready = {out[0], POLLIN, 0};
    if (::poll(&ready, 1, 5) > 0) {
      const ssize_t got = ::read(out[0], buffer, sizeof(buffer));
      if (got <= 0) break;
      outcome.out.append(buffer, static_cast<size_t>(got));
    }
    if (watch) watch(outcome.out, pid);
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  std::rewind(err);
  for (int c; (c = std::fgetc(err)) != EOF;) outcome.err.push_back(char(c));
  std::fclose(err);
  return outcome;
}

// Folders on the command line mean what they mean to any command: made full
// against the current folder, their bytes kept.
TEST(CommandLineTest, FillsTheWindowOrAsksForARun) {
  const fs::path here = fs::current_path();
  const struct {
    std::vector<fs::path> arguments;
    Action action;
    fs::path source, destination;
  } cases[] = {
      {{"Favs"}, Action::kWindow, here / "Favs", ""},
      {{"/f\xff", "../Out"}, Action::kWindow, "/f\xff", here / "../Out"},
      {{"--", "--run", "-"}, Action::kWindow, here / "--run", here / "-"},
      {{"a", "--run", "/b"}, Action::kRun, here / "a", "/b"},
      {{"--run", "a", "--version"}, Action::kVersion, "", ""},
  };
  for (const auto& c : cases) {
    const CommandLine command = ParseCommandLine(c.arguments);
    EXPECT_EQ(command.action, c.action) << c.source;
    EXPECT_EQ(command.source, c.source);
    EXPECT_EQ(command.destination, c.destination);
  }
}

// Exit statuses and what is printed: the outcome alone on standard output
// when it is no terminal, a failure on standard error naming the path and
// the reason, a usage mistake with a short usage.
TEST(TerminalTest, RunsWithoutADisplayAndTellsHowItWent) {
  TestFolder root;
  root.Write("Src/a.url", Compact("http://a/"));
  root.Write("Src/News/b.url", "[InternetShortcut]\nURL=http://b/\nIcon=x\n");
  // Control characters, C1 ones, a backslash, no UTF-8 and a surrogate are
  // printed escaped, UTF-8 as it is.
  root.Write(
      "Src/t\tb\\c\x7f\xff\xc2\x85\xed\xa0\x80\xc3\xa9\xf0\x9f\x98\x80.url",
      Compact("http://t/"));
  const std::string odd =
      "t\\tb\\\\c\\177\\377\\302\\205\\355\\240\\200\xc3\xa9\xf0\x9f\x98\x80."
      "url\n";
  // Recorded copies whose shortcuts are gone, one alone in its folder, one
  // whose name would print as a second removal; and a file only like a copy.
  root.Write("Out/Old/c.url", Compact("http://c/"));
  root.Write("Out/x\n- a.url", Compact("http://x/"));
  root.Write("Out/stray.url", Compact("http://s/"));
  // A copy of an older address, which the run replaces.
  root.Write("Out/News/b.url", Compact("http://old/"));
  PlantRecord(root.path() / "Out", root.path() / "Src",
              {{"Old/c.url", Compact("http://c/")},
               {"x\n- a.url", Compact("http://x/")}},
              {"Old"});
  const std::string stray =
      " 1 copy whose shortcut is gone is not in Norvale's record of what it "
      "wrote, so --delete keeps it.\n";
  const auto usage = [](const std::string& mistake) {
    return "Norvale: " + mistake + "\n" + UsageText();
  };
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out, err;
  } cases[] = {
      // A dry run tells, in the order a script can compare, and changes
      // nothing: the next run still writes both.
      {{"--run", "-nv", "Src", "Out"},
       0,
       "~ News/b.url\n+ a.url\n+ " + odd +
           "Dry run of 3 favorites: nothing was changed.\n3 copies would be "
           "written, 0 up to date already. 2 copies in the destination no "
           "longer have a shortcut; --delete would remove them." +
           stray,
       ""},
      {{"--run", "Src", "Out"},
       0,
       "Compressed 3 favorites.\n3 copies written, 0 up to date already. 2 "
       "copies in the destination no longer have a shortcut; Norvale --run "
       "--delete removes them." +
           stray,
       ""},
      {{"--run", "--delete", "--verbose", "Src", "Out"},
       0,
       "- Old/c.url\n- Old/\n! stray.url\n- x\\n- a.url\nCompressed 3 "
       "favorites.\n0 copies written, 3 up to date already. 2 copies whose "
       "shortcuts are gone were removed. 1 copy whose shortcut is gone is not "
       "in Norvale's record of what it wrote, so --delete kept it.\n",
       ""},
      {{"--delete", "-n", "Src"},
       2,
       "",
       usage("--delete, --dry-run and --verbose go with --run")},
      {{"--run", "Gone", "Out"},
       1,
       "",
       "Norvale: Could not read the folder \"" +
           (root.path() / "Gone").native() +
           "\": No such file or directory\nNo shortcut was written.\n"},
      {{"--help", "--bogus"}, 0, HelpText(), ""},
      {{"--version"}, 0, VersionText(), ""},
      {{"--bogus", "Src"}, 2, "", usage("unrecognized option '--bogus'")},
      {{"A", "B", "C"}, 2, "", usage("too many folders")},
      {{"-reverse", "Src"}, 2, "", usage("unrecognized option '-reverse'")},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Start(root.path(), c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments[0];
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
  }
  EXPECT_FALSE(fs::exists(root.path() / "Out/Old"));

  // On a terminal the progress rewrites one line. Ctrl+C in a large tree
  // stops at the next shortcut, keeps what was written, says how many, and
  // ends with 130.
  const size_t total = 10000;
  for (size_t i = 0; i < total; ++i) {
    root.Write(
        "Big/" + std::to_string(i / 100) + "/" + std::to_string(i) + ".url",
        Compact("http://a/"));
  }
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    bool interrupted = false;
    const fs::path written = root.path() / "BigOut/0/0.url";
    const Outcome outcome = Start(
        root.path(), {"--run", "Big", "BigOut"}, terminal,
        [&](const std::string& out, pid_t pid) {
          if (!interrupted &&
              (out.find("\rCompressing favorites... ") != std::string::npos ||
               (!terminal && fs::exists(written))))
            interrupted = ::kill(pid, SIGINT) == 0;
        });
    EXPECT_EQ(outcome.status, 130) << outcome.out << outcome.err;
    EXPECT_EQ(
        outcome.out.find("\rLooking for shortcuts... ") != std::string::npos,
        terminal);
    // The progress line is rubbed out before the outcome, which a terminal
    // ends with "\r\n".
    const size_t last =
        terminal ? outcome.out.rfind('\r', outcome.out.size() - 3) + 1 : 0;
    size_t done = 0, of = 0;
    ASSERT_EQ(std::sscanf(outcome.out.c_str() + last,
                          "Cancelled. %zu of %zu shortcuts were written.",
                          &done, &of),
              2)
        << outcome.out.substr(last);
    EXPECT_EQ(of, total);
    EXPECT_GT(done, 0u);
    EXPECT_LT(done, total);
    EXPECT_EQ(Tree(root.path() / "BigOut").size(), done);
    EXPECT_EQ(outcome.err, "");
    fs::remove_all(root.path() / "BigOut");
  }

  // A run stuck flushing a slow disk cannot stop at a shortcut; a second
  // Ctrl+C ends it at once.
  int interrupts = 0;
  const auto start = std::chrono::steady_clock::now();
  const Outcome stuck = Start(
      root.path(), {"--run", "Src", "SlowOut"}, true,
      [&](const std::string& out, pid_t pid) {
        if (out.find("\rSaving the copies to the disk...") !=
                std::string::npos &&
            interrupts < 2) {
          ::kill(pid, SIGINT);
          ++interrupts;
          ::usleep(100'000);
        }
      },
      "flush");
  EXPECT_EQ(stuck.signal, SIGINT) << stuck.out << stuck.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace norvale
