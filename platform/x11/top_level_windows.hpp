// Top-level windows of an X11 display, with Xlib.
//
// With an EWMH window manager (one that names a live check window in
// _NET_SUPPORTING_WM_CHECK) the requests go through it, as client messages;
// without one the windows are moved, raised and focused directly. Each call
// opens its own connection on a thread of its own, so calls may come from
// any thread, and a display that stops answering costs a caller at most the
// time limit below.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/top_level_windows.hpp"
#include "platform/x11/bounded_call.hpp"

namespace platform {

struct X11TopLevelWindowsOptions {
  // The display to use; empty means the one $DISPLAY names.
  std::string display;
  // Longest a call may take, connecting included.
  std::chrono::milliseconds call_timeout{3000};
};

class X11TopLevelWindows final : public TopLevelWindows {
 public:
  explicit X11TopLevelWindows(X11TopLevelWindowsOptions options = {});
  ~X11TopLevelWindows() override;

  WindowId FindByTitle(const std::string& title) override;
  std::optional<WindowRect> Rect(WindowId window) override;
  std::optional<WindowRect> ParentRect(WindowId window) override;
  bool SetTitle(WindowId window, const std::string& title) override;
  bool MoveTopmost(WindowId window, int x, int y) override;
  bool Activate(WindowId window) override;

  // The longest title read from a window; a window with a longer one
  // matches no title.
  static constexpr std::size_t kMaxTitleBytes = 4096;

 private:
  struct Reply {
    bool ok = false;
    WindowId window = 0;
    WindowRect rect;
  };
  class Session;

  // Runs `op` with a fresh connection; a failed Reply when there is no
  // display, or when the call outlives its time limit.
  Reply Run(std::function<Reply(Session&)> op);

  const X11TopLevelWindowsOptions options_;
  BoundedCall<Reply> calls_;
};

}  // namespace platform
