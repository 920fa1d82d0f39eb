// Test double of the top-level windows: windows kept in memory, stacked in
// the order they were added (the last on top), as a window manager would
// keep them: windows kept above stay over the others.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/top_level_windows.hpp"

namespace platform {

class FakeTopLevelWindows final : public TopLevelWindows {
 public:
  struct Window {
    std::string title;
    WindowRect rect;
    WindowId owner = 0;  // 0: none
    bool shown = true;
    bool above = false;
  };

  // Adds a window on top of the others; returns its id (never 0).
  WindowId Add(Window window);
  void Remove(WindowId window);
  // The window as it is now; nothing when there is no such window.
  std::optional<Window> Inspect(WindowId window) const;
  // The window with the input focus, 0 for none.
  WindowId focused() const;
  // The windows from the bottom of the stacking order to its top.
  std::vector<WindowId> stacking() const;

  WindowId FindByTitle(const std::string& title) override;
  std::optional<WindowRect> Rect(WindowId window) override;
  std::optional<WindowRect> ParentRect(WindowId window) override;
  bool SetTitle(WindowId window, const std::string& title) override;
  bool MoveTopmost(WindowId window, int x, int y) override;
  bool Activate(WindowId window) override;

 private:
  void RaiseLocked(WindowId window);

  mutable std::mutex mutex_;
  std::map<WindowId, Window> windows_;
  std::vector<WindowId> stacking_;
  WindowId next_id_ = 0x100;
  WindowId focused_ = 0;
};

}  // namespace platform
