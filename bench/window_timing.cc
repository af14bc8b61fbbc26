#include "bench/window_timing.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace norvale_bench {
namespace {

using Clock = std::chrono::steady_clock;

// Starts `argv`; returns its process id.
pid_t Start(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) !=
      0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  return pid;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// Returns the window named `name` that the display maps next, waiting at
// most `limit`.
Window WaitForMap(Display* display, const char* name,
                  std::chrono::seconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != MapNotify) continue;
      char* mapped = nullptr;
      const bool match = XFetchName(display, event.xmap.window, &mapped) &&
                         std::string(mapped) == name;
      XFree(mapped);
      if (match) return event.xmap.window;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  throw std::runtime_error(std::string("no window \"") + name + "\" came");
}

// Sends `window` a press and release of the key `symbol`, as the keyboard
// would.
void Press(Display* display, Window window, KeySym symbol) {
  XKeyEvent key{};
  key.display = display;
  key.window = window;
  key.root = DefaultRootWindow(display);
  key.same_screen = True;
  key.keycode = XKeysymToKeycode(display, symbol);
  for (const int type : {KeyPress, KeyRelease}) {
    key.type = type;
    XSendEvent(display, window, True,
               type == KeyPress ? KeyPressMask : KeyReleaseMask,
               reinterpret_cast<XEvent*>(&key));
  }
}

}  // namespace

double TimeWindowRun(const std::string& norvale,
                     const std::filesystem::path& source,
                     const std::filesystem::path& destination) {
  // A display of its own, which nothing else draws on.
  int number = 90;
  while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
    ++number;
  const std::string name = ":" + std::to_string(number);
  const pid_t server =
      Start({"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
  struct StopServer {
    pid_t pid;
    ~StopServer() { Stop(pid); }
  } stop_server{server};
  Display* display = nullptr;
  for (int i = 0; i < 500 && display == nullptr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    display = XOpenDisplay(name.c_str());
  }
  if (display == nullptr) throw std::runtime_error("Xvfb did not start");
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  const char* before = std::getenv("DISPLAY");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("DISPLAY", name.c_str(), 1);
  const pid_t window_process =
      Start({norvale, source.string(), destination.string()});
  if (saved.empty()) {
    ::unsetenv("DISPLAY");
  } else {
    ::setenv("DISPLAY", saved.c_str(), 1);
  }
  struct StopWindow {
    pid_t pid;
    ~StopWindow() { Stop(pid); }
  } stop_window{window_process};
  const Window window =
      WaitForMap(display, "Norvale", std::chrono::seconds(30));
  // Settled, with the source field focused: two tabs reach the button.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  for (const KeySym key : {XK_Tab, XK_Tab, XK_space})
    Press(display, window, key);
  XFlush(display);
  WaitForMap(display, "Finished", std::chrono::seconds(600));
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count();
  XCloseDisplay(display);
  return seconds;
}

}  // namespace norvale_bench
