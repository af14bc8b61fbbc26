// Tests of the command line, and of the Norvale executable run as a script
// or a person at a terminal would run it: with no display, reading its exit
// status and what it prints.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "services/test_folder.h"
#include "terminal/command_line.h"

extern char** environ;

namespace norvale {
namespace {

namespace fs = std::filesystem;
using Action = CommandLine::Action;

constexpr char kShortcut[] = "[InternetShortcut]\r\nURL=http://a/\r\n";

// What the program printed and how it ended.
struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Starts Norvale in `folder` with `arguments` and no display to open a
// window on. On a terminal when `terminal`, whose text goes to `out`, and
// `watch` is called with each new text and the process; else with pipes.
template <typename Watch>
Outcome Start(const fs::path& folder, std::vector<std::string> arguments,
              bool terminal, Watch watch) {
  std::vector<char*> argv{const_cast<char*>(NORVALE_PROGRAM)};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text(*variable);
    if (text.rfind("DISPLAY=", 0) != 0 &&
        text.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
        text.rfind("QT_QPA_PLATFORM=", 0) != 0) {
      envp.push_back(*variable);
    }
  }
  envp.push_back(nullptr);
  int out[2], err[2];
  if (terminal) {
    EXPECT_EQ(::openpty(&out[0], &out[1], nullptr, nullptr, nullptr), 0);
  } else {
    EXPECT_EQ(::pipe(out), 0);
  }
  EXPECT_EQ(::pipe(err), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Outcome outcome;
  pollfd fds[] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[] = {&outcome.out, &outcome.err};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof(buffer));
      if (got <= 0) {  // a terminal whose program has ended says EIO
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      texts[i]->append(buffer, static_cast<size_t>(got));
      if (i == 0) watch(outcome.out, pid);
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

Outcome Start(const fs::path& folder, std::vector<std::string> arguments) {
  return Start(folder, std::move(arguments), false,
               [](const std::string&, pid_t) {});
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
      {{}, Action::kWindow, "", ""},
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
  root.Write("Src/a.url", kShortcut);
  root.Write("Src/News/b.url", "[InternetShortcut]\nURL=http://b/\nIcon=x\n");
  const std::string usage =
      "Usage: Norvale [SOURCE [DESTINATION]]\n"
      "  or:  Norvale --run SOURCE DESTINATION\n"
      "Try 'Norvale --help' for more information.\n";
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--run", "Src", "Out"}, 0, "Compressed 2 favorites.\n", ""},
      {{"--run", "Gone", "Out"},
       1,
       "",
       "Norvale: Could not read the folder \"" +
           (root.path() / "Gone").native() +
           "\": No such file or directory\nNo shortcut was written.\n"},
      {{"--version"}, 0, "Norvale 1.00\n", ""},
      {{"--bogus", "Src"},
       2,
       "",
       "Norvale: unrecognized option '--bogus'\n" + usage},
      {{"--run", "Src"},
       2,
       "",
       "Norvale: --run needs a source and a destination\n" + usage},
      {{"A", "B", "C"}, 2, "", "Norvale: too many folders\n" + usage},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Start(root.path(), c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments[0];
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
  }
  EXPECT_EQ(ReadBytes(root.path() / "Out/News/b.url"),
            "[InternetShortcut]\r\nURL=http://b/\r\n");
  const Outcome help = Start(root.path(), {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: Norvale [SOURCE [DESTINATION]]\n", 0), 0u);
}

// On a terminal the progress rewrites one line; Ctrl+C in the middle of a
// large tree stops at the next shortcut, keeps what was written, says how
// many, and ends with 130.
TEST(TerminalTest, CtrlCStopsARunOnATerminal) {
  TestFolder root;
  const size_t total = 20000;
  for (size_t i = 0; i < total; ++i) {
    root.Write(
        "Src/" + std::to_string(i / 100) + "/" + std::to_string(i) + ".url",
        kShortcut);
  }
  bool interrupted = false;
  const Outcome outcome =
      Start(root.path(), {"--run", "Src", "Out"}, true,
            [&](const std::string& out, pid_t pid) {
              if (interrupted ||
                  out.find("\rCompressing favorites... ") == std::string::npos)
                return;
              interrupted = ::kill(pid, SIGINT) == 0;
            });
  EXPECT_EQ(outcome.status, 130) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("\rLooking for shortcuts... "), std::string::npos);
  // The progress line is rubbed out before the outcome, which a terminal
  // ends with "\r\n".
  const size_t last = outcome.out.rfind('\r', outcome.out.size() - 3);
  size_t done = 0, of = 0;
  ASSERT_EQ(std::sscanf(outcome.out.c_str() + last + 1,
                        "Cancelled. %zu of %zu shortcuts were written.\r\n",
                        &done, &of),
            2)
      << outcome.out.substr(last);
  EXPECT_EQ(of, total);
  EXPECT_GT(done, 0u);
  EXPECT_LT(done, total);
  size_t written = 0;
  for (const auto& entry :
       fs::recursive_directory_iterator(root.path() / "Out"))
    written += entry.is_regular_file();
  EXPECT_EQ(written, done);
  EXPECT_EQ(outcome.err, "");
}

}  // namespace
}  // namespace norvale
