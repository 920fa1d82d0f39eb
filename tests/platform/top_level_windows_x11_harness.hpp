// A private X display for tests of the window layers: Xvfb on a free display
// number, optionally with openbox as its window manager, and a client of the
// test's own that creates windows and reports what the server says about
// them. Every process is ended by its id when its holder goes.
#pragma once

#include <sys/types.h>

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/top_level_windows.hpp"
#include "tests/platform/top_level_windows_eventually.hpp"

namespace windows_test {

// A child process that dies with the test, killed and reaped when this
// object goes.
class Child {
 public:
  Child() = default;
  // Starts `argv` with `extra_env` ("NAME=value") added to the environment.
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env, int keep_fd = -1);
  ~Child();
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  pid_t pid() const { return pid_; }
  void Kill();

 private:
  pid_t pid_ = -1;
};

// A fresh temporary directory (mode 0700), removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class XServer {
 public:
  // Starts Xvfb, and openbox on it when `window_manager`; display() is empty
  // when either could not be started.
  explicit XServer(bool window_manager);
  ~XServer();
  const std::string& display() const { return display_; }
  pid_t pid() const { return xvfb_.pid(); }
  void Kill();

 private:
  TempDir home_;
  Child xvfb_;
  Child openbox_;
  std::string display_;
};

// The test's own connection: creates windows and reads their state.
class WindowClient {
 public:
  explicit WindowClient(const std::string& display);
  ~WindowClient();
  bool ok() const { return display_ != nullptr; }
  Display* display() const { return display_; }

  // A top-level window with its client area at `rect`, titled through
  // _NET_WM_NAME and WM_NAME as toolkits do, owned by `owner` (0: none).
  // When `shown`, returns once it is viewable and, under a window manager,
  // managed.
  Window Create(const std::string& title, platform::WindowRect rect, Window owner = 0, bool shown = true);
  // A shown window whose only title is `property` of `type` with `bytes`.
  Window CreateTitledBy(const char* property, const char* type, int format, const std::string& bytes);
  void Destroy(Window window);
  // Waits until `window` is viewable and, under a window manager, managed.
  bool WaitShown(Window window, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
  // Shows a window created hidden as toolkits do: the state it starts in is
  // written anew just before it is mapped.
  bool Show(Window window);

  bool HasWindowManager();
  // Whether a window manager takes a window that is mapped now.
  bool Manages();
  std::optional<platform::WindowRect> ClientRect(Window window);
  // A format-8 property as it is stored, with its type's name.
  std::optional<std::pair<std::string, std::string>> Property(Window window, const char* name);
  bool HasState(Window window, const char* state);
  Window Focus();
  // Whether the focus is on `window` or inside it (GTK focuses a child of
  // its own when the window manager offers the focus).
  bool FocusWithin(Window window);
  Window ActiveWindow();
  bool Viewable(Window window);
  // Whether `a` is stacked over `b` (by the root's children holding them).
  bool StackedOver(Window a, Window b);
  // Whether `window` is on top of every other root child.
  bool OnTop(Window window);

 private:
  Window RootChildHolding(Window window);
  std::vector<Window> RootChildren();
  bool HasWmState(Window window);

  Display* display_ = nullptr;
};

}  // namespace windows_test
