// Plays the person at the desktop for the end-to-end tests: finds a dialog
// window by its exact title, answers an open-file chooser with a path or
// cancels it (xdotool, with bounded waits and retries), and reads back where
// a window is, how it is stacked and whether it has the focus (Xlib), all on
// the test's own display.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.hpp"

namespace e2e {

struct WindowState {
  unsigned long id = 0;
  std::string title;  // _NET_WM_NAME, else WM_NAME
  bool viewable = false;
  // The window's outer top-left corner on the screen: that of the frame a
  // window manager put around it, or its own when it has none.
  int outer_x = 0;
  int outer_y = 0;
  // Its own top-left corner on the screen.
  int client_x = 0;
  int client_y = 0;
  int width = 0;
  int height = 0;
  bool reparented = false;   // it sits in a frame, not directly on the root
  bool state_above = false;  // _NET_WM_STATE holds _NET_WM_STATE_ABOVE
  // No viewable managed window is stacked above it; `covered_by` names the
  // first one that is, otherwise.
  bool topmost = false;
  std::string covered_by;
  bool focused = false;  // the input focus is the window or inside it
  bool active = false;   // the root's _NET_ACTIVE_WINDOW names it
};

class DialogDriver {
 public:
  DialogDriver(const TestHome& home, std::string display);

  // The viewable top-level window titled exactly `title` once there is one,
  // or 0 after `limit`.
  unsigned long WaitForWindow(const std::string& title, milliseconds limit);
  // True once `window` is no longer viewable (or no longer exists).
  bool WaitGone(unsigned long window, milliseconds limit);

  // Types `path` into the location field of the chooser titled `title` and
  // accepts it. True when the chooser closed.
  bool ChooseFile(const std::string& title, const std::string& path,
                  milliseconds limit = milliseconds(30000));
  // Closes the dialog titled `title` with Escape. True when it closed.
  bool Cancel(const std::string& title, milliseconds limit = milliseconds(30000));

  // Activates `window` and types `text` into it / presses `keys` (xdotool
  // key names, e.g. "ctrl+s") in it. True when xdotool did it.
  bool TypeInto(unsigned long window, const std::string& text);
  bool PressKeys(unsigned long window, const std::string& keys);
  // The viewable top-level windows titled exactly `title`.
  std::vector<unsigned long> WindowsTitled(const std::string& title);
  // The process that owns `window` (_NET_WM_PID), or 0.
  long OwnerPid(unsigned long window) const;

  std::optional<WindowState> Inspect(unsigned long window) const;
  // Activates `window` through the window manager, or gives it the focus
  // directly when there is none.
  void Activate(unsigned long window);
  // A window manager has announced itself on the root (EWMH check window).
  bool WindowManagerRunning() const;

  // What the driver did, for a failure message.
  const std::string& log() const { return log_; }

 private:
  // Runs xdotool with `args`, at most `limit`; its output when it exited 0.
  std::optional<std::string> Xdotool(const std::vector<std::string>& args,
                                     milliseconds limit = milliseconds(5000));
  void Note(const std::string& line);

  const TestHome& home_;
  std::string display_;
  int runs_ = 0;
  std::string log_;
};

// A plain managed window standing in for the browser the request came from:
// what a chooser has to come up in front of.
class StandInWindow {
 public:
  StandInWindow(const std::string& display, const std::string& title);
  ~StandInWindow();
  StandInWindow(const StandInWindow&) = delete;
  StandInWindow& operator=(const StandInWindow&) = delete;
  unsigned long id() const { return window_; }
  // Asks for it to be mapped and raised (again).
  void Map();

 private:
  void* display_ = nullptr;  // Display*, kept out of this header
  unsigned long window_ = 0;
};

}  // namespace e2e
