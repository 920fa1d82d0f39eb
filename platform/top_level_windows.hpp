// The top-level windows of the desktop session: found by title, measured,
// renamed, moved and brought to the front.
//
// Docklane uses this to bring the open-file chooser, which it starts on
// behalf of a browser, in front of the browser. One backend per platform
// (x11/top_level_windows.cpp), a test double in
// testing/fake_top_level_windows.hpp. Every call may come from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/current_backend.hpp"

namespace platform {

using WindowId = std::uint64_t;  // 0: none

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  friend bool operator==(const WindowRect& a, const WindowRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
  friend bool operator!=(const WindowRect& a, const WindowRect& b) { return !(a == b); }
};

class TopLevelWindows {
 public:
  virtual ~TopLevelWindows() = default;

  // The first top-level window, from the top of the stacking order down,
  // whose title (UTF-8) equals `title` exactly; 0 when there is none. An
  // empty title matches no window.
  virtual WindowId FindByTitle(const std::string& title) = 0;

  // The client area of `window` in screen coordinates.
  virtual std::optional<WindowRect> Rect(WindowId window) = 0;

  // The client area of the window that owns `window` (the one it is a dialog
  // of); nothing when it has no owner.
  virtual std::optional<WindowRect> ParentRect(WindowId window) = 0;

  // Sets the title (UTF-8) shown for `window`.
  virtual bool SetTitle(WindowId window, const std::string& title) = 0;

  // Moves `window` so that the top-left corner of its client area is at
  // (x, y), keeping its size, and keeps it above the other windows.
  virtual bool MoveTopmost(WindowId window, int x, int y) = 0;

  // Shows `window` normally, raises it and gives it the input focus.
  virtual bool Activate(WindowId window) = 0;

  // The process-wide instance: the platform backend unless a test has
  // installed another one.
  static TopLevelWindows& Get() { return CurrentBackend<TopLevelWindows>::Get(); }

  // Installs `windows` as the process-wide one (nullptr restores the
  // platform backend). Not thread-safe; call it before any other call.
  static void SetForTesting(std::unique_ptr<TopLevelWindows> windows) {
    CurrentBackend<TopLevelWindows>::SetForTesting(std::move(windows));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<TopLevelWindows> CreatePlatformBackend();
};

}  // namespace platform
