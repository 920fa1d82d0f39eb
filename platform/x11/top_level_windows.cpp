#include "platform/x11/top_level_windows.hpp"

#include <condition_variable>
#include <system_error>
#include <thread>

#include "platform/x11/top_level_windows_session.hpp"

namespace platform {

struct X11TopLevelWindows::Attempt {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  Reply reply;
};

X11TopLevelWindows::X11TopLevelWindows(X11TopLevelWindowsOptions options) : options_(std::move(options)) {}

X11TopLevelWindows::~X11TopLevelWindows() {
  // A call left behind holds nothing of this object, but is given a moment
  // to end rather than being cut off by the end of the process.
  const std::lock_guard<std::mutex> serial(mutex_);
  if (!stalled_) return;
  std::unique_lock<std::mutex> lock(stalled_->mutex);
  stalled_->finished.wait_for(lock, std::chrono::seconds(2), [&] { return stalled_->done; });
}

X11TopLevelWindows::Reply X11TopLevelWindows::Run(std::function<Reply(Session&)> op) {
  if (options_.display.empty()) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return {};
  }
  const std::lock_guard<std::mutex> serial(mutex_);
  if (stalled_) {
    const std::lock_guard<std::mutex> lock(stalled_->mutex);
    if (!stalled_->done) return {};
  }
  stalled_.reset();

  // Xlib has no time limit of its own (connecting to a display that does
  // not answer, a round trip to a server that hangs), so the call runs on a
  // thread of its own that can be left behind.
  auto attempt = std::make_shared<Attempt>();
  const Clock::time_point deadline = Clock::now() + options_.call_timeout;
  try {
    std::thread([attempt, op = std::move(op), display = options_.display] {
      Reply reply;
      {
        Session session(display);
        if (session.ok()) reply = op(session);
        if (!session.ok()) reply = Reply{};
      }
      const std::lock_guard<std::mutex> lock(attempt->mutex);
      attempt->reply = reply;
      attempt->done = true;
      attempt->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};
  }
  std::unique_lock<std::mutex> lock(attempt->mutex);
  if (!attempt->finished.wait_until(lock, deadline, [&] { return attempt->done; })) {
    stalled_ = attempt;
    return {};
  }
  return attempt->reply;
}

WindowId X11TopLevelWindows::FindByTitle(const std::string& title) {
  if (title.empty()) return 0;
  return Run([title](Session& s) {
           const WindowId found = s.FindByTitle(title);
           return Reply{found != 0, found, {}};
         })
      .window;
}

std::optional<WindowRect> X11TopLevelWindows::Rect(WindowId window) {
  if (!ValidId(window)) return std::nullopt;
  const Reply reply = Run([window](Session& s) {
    std::optional<WindowRect> rect = s.ClientRect(static_cast<Window>(window));
    return Reply{rect.has_value(), window, rect.value_or(WindowRect{})};
  });
  if (!reply.ok) return std::nullopt;
  return reply.rect;
}

std::optional<WindowRect> X11TopLevelWindows::ParentRect(WindowId window) {
  if (!ValidId(window)) return std::nullopt;
  const Reply reply = Run([window](Session& s) {
    std::optional<WindowRect> rect = s.OwnerRect(static_cast<Window>(window));
    return Reply{rect.has_value(), window, rect.value_or(WindowRect{})};
  });
  if (!reply.ok) return std::nullopt;
  return reply.rect;
}

bool X11TopLevelWindows::SetTitle(WindowId window, const std::string& title) {
  if (!ValidId(window)) return false;
  return Run([window, title](Session& s) { return Reply{s.SetTitle(static_cast<Window>(window), title), window, {}}; })
      .ok;
}

bool X11TopLevelWindows::MoveTopmost(WindowId window, int x, int y) {
  if (!ValidId(window)) return false;
  const Clock::time_point deadline = Clock::now() + std::min(options_.call_timeout / 2, kShowingWait);
  return Run([window, x, y, deadline](Session& s) {
           return Reply{s.MoveTopmost(static_cast<Window>(window), x, y, deadline), window, {}};
         })
      .ok;
}

bool X11TopLevelWindows::Activate(WindowId window) {
  if (!ValidId(window)) return false;
  const Clock::time_point deadline = Clock::now() + options_.call_timeout / 2;
  return Run([window, deadline](Session& s) {
           return Reply{s.Activate(static_cast<Window>(window), deadline), window, {}};
         })
      .ok;
}

std::unique_ptr<TopLevelWindows> TopLevelWindows::CreatePlatformBackend() {
  return std::make_unique<X11TopLevelWindows>();
}

}  // namespace platform
