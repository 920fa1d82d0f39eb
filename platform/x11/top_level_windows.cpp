#include "platform/x11/top_level_windows.hpp"

#include <cstdlib>

#include "platform/x11/top_level_windows_session.hpp"

namespace platform {

X11TopLevelWindows::X11TopLevelWindows(X11TopLevelWindowsOptions options) : options_(std::move(options)) {}

X11TopLevelWindows::~X11TopLevelWindows() = default;

X11TopLevelWindows::Reply X11TopLevelWindows::Run(std::function<Reply(Session&)> op) {
  if (options_.display.empty()) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return {};
  }
  return calls_
      .Run(
          [op = std::move(op), display = options_.display] {
            Session session(display);
            Reply reply;
            if (session.ok()) reply = op(session);
            if (!session.ok()) reply = Reply{};
            return reply;
          },
          Clock::now() + options_.call_timeout)
      .value_or(Reply{});
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
