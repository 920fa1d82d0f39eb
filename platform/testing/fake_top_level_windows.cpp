#include "platform/testing/fake_top_level_windows.hpp"

#include <algorithm>

namespace platform {

WindowId FakeTopLevelWindows::Add(Window window) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const WindowId id = next_id_++;
  windows_[id] = std::move(window);
  stacking_.push_back(id);
  RaiseLocked(id);
  return id;
}

void FakeTopLevelWindows::Remove(WindowId window) {
  const std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(window);
  stacking_.erase(std::remove(stacking_.begin(), stacking_.end(), window), stacking_.end());
  if (focused_ == window) focused_ = 0;
}

std::optional<FakeTopLevelWindows::Window> FakeTopLevelWindows::Inspect(WindowId window) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return std::nullopt;
  return it->second;
}

WindowId FakeTopLevelWindows::focused() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return focused_;
}

std::vector<WindowId> FakeTopLevelWindows::stacking() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stacking_;
}

WindowId FakeTopLevelWindows::FindByTitle(const std::string& title) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (title.empty()) return 0;
  for (auto it = stacking_.rbegin(); it != stacking_.rend(); ++it) {
    if (windows_.at(*it).title == title) return *it;
  }
  return 0;
}

std::optional<WindowRect> FakeTopLevelWindows::Rect(WindowId window) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return std::nullopt;
  return it->second.rect;
}

std::optional<WindowRect> FakeTopLevelWindows::ParentRect(WindowId window) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return std::nullopt;
  const auto owner = windows_.find(it->second.owner);
  if (owner == windows_.end()) return std::nullopt;
  return owner->second.rect;
}

bool FakeTopLevelWindows::SetTitle(WindowId window, const std::string& title) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  it->second.title = title;
  return true;
}

bool FakeTopLevelWindows::MoveTopmost(WindowId window, int x, int y) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  WindowRect& r = it->second.rect;
  r = WindowRect{x, y, x + r.width(), y + r.height()};
  it->second.above = true;
  RaiseLocked(window);
  return true;
}

bool FakeTopLevelWindows::Activate(WindowId window) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  it->second.shown = true;
  focused_ = window;
  RaiseLocked(window);
  return true;
}

void FakeTopLevelWindows::RaiseLocked(WindowId window) {
  stacking_.erase(std::remove(stacking_.begin(), stacking_.end(), window), stacking_.end());
  // A window goes on top of its layer: below every window kept above,
  // unless it is kept above itself.
  auto at = stacking_.end();
  if (!windows_.at(window).above) {
    at = std::find_if(stacking_.begin(), stacking_.end(), [&](WindowId w) { return windows_.at(w).above; });
  }
  stacking_.insert(at, window);
}

}  // namespace platform
