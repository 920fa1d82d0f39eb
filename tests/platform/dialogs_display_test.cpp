// The real zenity on an Xvfb display started by the test.

// gtest before Xlib: Xlib's macros (None, Bool) would break gtest's names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/zenity_dialogs.hpp"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool OnPath(const char* program) {
  return system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

class XvfbDisplay {
 public:
  // Starts Xvfb on a free display number; empty name() when it fails.
  XvfbDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + 10s;
    while (pid_ > 0 && Clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~XvfbDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

bool HasWindowTitled(Display* display, Window window, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    bool match = title == name;
    XFree(name);
    if (match) return true;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) found = HasWindowTitled(display, children[i], title);
  if (children) XFree(children);
  return found;
}

TEST(ZenityDialogsOnXvfb, ShowsATitledBoxThatClosesByItself) {
  if (!OnPath("zenity") || !OnPath("Xvfb")) GTEST_SKIP() << "zenity or Xvfb not installed";
  XvfbDisplay xvfb;
  ASSERT_FALSE(xvfb.name().empty()) << "Xvfb did not start";
  setenv("DISPLAY", xvfb.name().c_str(), 1);

  std::atomic<bool> done{false};
  const auto start = Clock::now();
  std::thread box([&] {
    ZenityDialogs("zenity", 3s, "Docklane").ShowMessageBox("Cannot open the MS Word");
    done = true;
  });

  Display* display = XOpenDisplay(xvfb.name().c_str());
  ASSERT_NE(display, nullptr);
  bool seen = false;
  while (!seen && !done && Clock::now() - start < 10s) {
    seen = HasWindowTitled(display, DefaultRootWindow(display), "Docklane");
    if (!seen) std::this_thread::sleep_for(50ms);
  }
  XCloseDisplay(display);
  box.join();
  const auto took = Clock::now() - start;
  EXPECT_TRUE(seen) << "no window titled Docklane appeared";
  EXPECT_LT(took, 10s) << "the box must close by its time limit";
  unsetenv("DISPLAY");
}

}  // namespace
}  // namespace platform
