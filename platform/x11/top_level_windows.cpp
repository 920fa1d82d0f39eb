#include "platform/x11/top_level_windows.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.hpp"
#include "platform/x11/xlib_connection.hpp"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Bounds of one search: a desktop has tens of windows, a hostile client
// could make millions.
constexpr unsigned kMaxRootChildren = 4096;
constexpr std::size_t kMaxWindowsVisited = 16384;
// A reparenting window manager puts the client one or two levels below the
// frame.
constexpr int kMaxFrameDepth = 4;
constexpr std::size_t kMaxSetTitleBytes = 64 * 1024;
constexpr long kMaxSupportedAtoms = 4096;
// How long a window that is not shown yet is given to appear.
constexpr std::chrono::milliseconds kShowingWait{1000};
// XIDs have 29 bits; anything larger is no window of any display.
constexpr WindowId kMaxXid = 0x1FFFFFFF;

// EWMH client-message values.
constexpr long kStateAdd = 1;
constexpr long kSourcePager = 2;  // a request on the user's behalf, not subject to focus-stealing rules
constexpr long kMoveResizeX = 1L << 8;
constexpr long kMoveResizeY = 1L << 9;
constexpr long kWithdrawnState = 0;

enum AtomIndex : std::size_t {
  kNetWmName,
  kUtf8String,
  kWmState,
  kNetWmState,
  kNetWmStateAbove,
  kNetActiveWindow,
  kNetSupportingWmCheck,
  kNetSupported,
  kNetMoveResizeWindow,
  kCompoundText,
  kAtomCount,
};

constexpr const char* kAtomNames[kAtomCount] = {
    "_NET_WM_NAME",        "UTF8_STRING",
    "WM_STATE",            "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE", "_NET_ACTIVE_WINDOW",
    "_NET_SUPPORTING_WM_CHECK", "_NET_SUPPORTED",
    "_NET_MOVERESIZE_WINDOW", "COMPOUND_TEXT",
};

bool ValidId(WindowId window) { return window != 0 && window <= kMaxXid; }

}  // namespace

// One connection, used by one thread for one call: finding windows by
// title, reading and setting titles, moving, raising and activating them,
// with or without a window manager.
class X11TopLevelWindows::Session {
 public:
  explicit Session(const std::string& name) : connection_(name), display_(connection_.display()) {
    if (!display_) return;
    root_ = DefaultRootWindow(display_);
    interned_ = XInternAtoms(display_, const_cast<char**>(kAtomNames), kAtomCount, False, atoms_) != 0;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return display_ && interned_ && !connection_.lost(); }

  WindowId FindByTitle(const std::string& title) {
    if (title.empty()) return 0;
    for (const Window window : TopLevels()) {
      if (!ok()) return 0;
      std::optional<std::string> t = Title(window);
      if (t && *t == title) return window;
    }
    return 0;
  }

  std::optional<WindowRect> ClientRect(Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
    int x = 0, y = 0;
    Window child;
    if (!XTranslateCoordinates(display_, window, root_, 0, 0, &x, &y, &child)) return std::nullopt;
    return WindowRect{x, y, x + attributes.width, y + attributes.height};
  }

  std::optional<WindowRect> OwnerRect(Window window) {
    Window owner = None;
    if (!XGetTransientForHint(display_, window, &owner) || owner == None || owner == root_) return std::nullopt;
    return ClientRect(owner);
  }

  bool SetTitle(Window window, const std::string& title) {
    if (title.size() > kMaxSetTitleBytes) return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    connection_.ClearErrors();
    XChangeProperty(display_, window, atoms_[kNetWmName], atoms_[kUtf8String], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    // WM_NAME as ICCCM readers expect it: STRING when Latin-1 suffices,
    // else COMPOUND_TEXT; UTF8_STRING when neither can carry the title.
    std::string copy = title;
    char* list[] = {copy.data()};
    XTextProperty legacy{};
    if (Xutf8TextListToTextProperty(display_, list, 1, XStdICCTextStyle, &legacy) == Success) {
      XChangeProperty(display_, window, XA_WM_NAME, legacy.encoding, legacy.format, PropModeReplace, legacy.value,
                      static_cast<int>(legacy.nitems));
    } else {
      XChangeProperty(display_, window, XA_WM_NAME, atoms_[kUtf8String], 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    }
    if (legacy.value) XFree(legacy.value);
    return connection_.Synced();
  }

  bool MoveTopmost(Window window, int x, int y, Clock::time_point deadline) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    const Window manager = WindowManager();
    // A window found before its owner showed it is likely about to be shown;
    // the owner then sets its state and position anew and the manager takes
    // it, so whatever is asked before that is lost. Give it a moment.
    const auto shown = [&] { return manager != None ? Managed(window) : attributes.map_state == IsViewable; };
    while (!shown() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    }
    const bool managed = manager != None && Managed(window);
    connection_.ClearErrors();
    if (managed && Supports(atoms_[kNetMoveResizeWindow])) {
      // Static gravity: the coordinates are those of the client area itself,
      // not of the frame the manager puts around it.
      SendToManager(window, atoms_[kNetMoveResizeWindow],
                    {StaticGravity | kMoveResizeX | kMoveResizeY | (kSourcePager << 12), x, y, 0, 0});
    } else {
      // Done by the server itself (or passed on unchanged by a manager that
      // does not hold the window): the position is that of the outer edge of
      // the border.
      XMoveWindow(display_, window, x - attributes.border_width, y - attributes.border_width);
    }
    if (manager == None) {
      XRaiseWindow(display_, window);
    } else if (managed) {
      SendToManager(window, atoms_[kNetWmState],
                    {kStateAdd, static_cast<long>(atoms_[kNetWmStateAbove]), 0, kSourcePager, 0});
    } else {
      // A window the manager does not hold yet carries its initial state.
      XChangeProperty(display_, window, atoms_[kNetWmState], XA_ATOM, 32, PropModeAppend,
                      reinterpret_cast<const unsigned char*>(&atoms_[kNetWmStateAbove]), 1);
    }
    return connection_.Synced();
  }

  bool Activate(Window window, Clock::time_point deadline) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    connection_.ClearErrors();
    if (WindowManager() != None) {
      // A withdrawn window must be mapped for the manager to take it; an
      // iconic one is restored by the activation itself.
      if (attributes.map_state == IsUnmapped && !Managed(window)) XMapWindow(display_, window);
      SendToManager(window, atoms_[kNetActiveWindow], {kSourcePager, CurrentTime, 0, 0, 0});
      return connection_.Synced();
    }
    XMapRaised(display_, window);
    if (!connection_.Synced()) return false;
    // Focus can only go to a viewable window; the map may still be on its way
    // through an old-style manager.
    while (attributes.map_state != IsViewable) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!XGetWindowAttributes(display_, window, &attributes)) return false;
    }
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    return connection_.Synced();
  }

 private:
  // Format-32 items of a property of the given type (any type for
  // AnyPropertyType); nothing when it is missing or longer than `max_items`.
  std::optional<std::vector<unsigned long>> Longs(Window window, Atom property, Atom type, long max_items) {
    const std::optional<XProperty> read = ReadProperty(display_, window, property, max_items, type);
    if (!read || read->type == None || read->format != 32 || read->bytes_after > 0 || !read->data)
      return std::nullopt;
    const auto* longs = reinterpret_cast<const unsigned long*>(read->data.get());
    return std::vector<unsigned long>(longs, longs + read->items);
  }

  // A format-8 property of at most kMaxTitleBytes; `too_long` tells a
  // longer one from a missing one.
  std::optional<std::string> Bytes(Window window, Atom property, Atom* type, bool* too_long) {
    const std::optional<XProperty> read = ReadProperty(display_, window, property, kMaxTitleBytes / 4);
    *too_long = false;
    if (!read || read->type == None || read->format != 8 || !read->data) return std::nullopt;
    if (read->bytes_after > 0) {
      *too_long = true;
      return std::nullopt;
    }
    *type = read->type;
    return std::string(reinterpret_cast<const char*>(read->data.get()), read->items);
  }

  // _NET_WM_NAME, else WM_NAME, as UTF-8.
  std::optional<std::string> Title(Window window) {
    Atom type = None;
    bool too_long = false;
    std::optional<std::string> name = Bytes(window, atoms_[kNetWmName], &type, &too_long);
    if (too_long) return std::nullopt;
    if (name && type == atoms_[kUtf8String]) return name;
    name = Bytes(window, XA_WM_NAME, &type, &too_long);
    if (!name) return std::nullopt;
    if (type == atoms_[kUtf8String]) return name;
    if (type == XA_STRING) return Latin1ToUtf8(*name);
    if (type != atoms_[kCompoundText]) return std::nullopt;
    // Compound text without escape sequences is Latin-1.
    if (name->find('\x1b') == std::string::npos) return Latin1ToUtf8(*name);
    XTextProperty property{reinterpret_cast<unsigned char*>(name->data()), type, 8, name->size()};
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) != Success || !list) return std::nullopt;
    std::string text;
    for (int i = 0; i < count; ++i) text += list[i];
    XFreeStringList(list);
    return text;
  }

  bool HasWmState(Window window) {
    const std::optional<XProperty> read = ReadProperty(display_, window, atoms_[kWmState], 0);
    return read && read->type != None;
  }

  // Held by the window manager: mapped or iconic, not withdrawn.
  bool Managed(Window window) {
    std::optional<std::vector<unsigned long>> state =
        Longs(window, atoms_[kWmState], atoms_[kWmState], 2);
    return state && !state->empty() && static_cast<long>((*state)[0]) != kWithdrawnState;
  }

  std::vector<Window> Children(Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, window, &root, &parent, &children, &count)) return {};
    const std::unique_ptr<Window, XFreeDeleter> owned(children);
    if (!children) return {};
    return std::vector<Window>(children, children + count);
  }

  // The client a frame holds: the first window with WM_STATE below it.
  Window ClientBelow(Window frame, std::size_t& budget) {
    std::vector<Window> level = {frame};
    for (int depth = 0; depth < kMaxFrameDepth && !level.empty(); ++depth) {
      std::vector<Window> next;
      for (const Window w : level) {
        for (const Window child : Children(w)) {
          if (budget == 0) return None;
          --budget;
          if (HasWmState(child)) return child;
          next.push_back(child);
        }
      }
      level = std::move(next);
    }
    return None;
  }

  // The top-level windows, from the top of the stacking order down: the
  // children of the root, and in place of a manager's frame the client in it.
  std::vector<Window> TopLevels() {
    std::vector<Window> children = Children(root_);
    if (children.size() > kMaxRootChildren)
      children.erase(children.begin(), children.end() - kMaxRootChildren);  // keep the topmost
    std::vector<Window> out;
    std::size_t budget = kMaxWindowsVisited;
    for (auto it = children.rbegin(); it != children.rend() && ok(); ++it) {
      if (HasWmState(*it)) {
        out.push_back(*it);
        continue;
      }
      const Window client = budget > 0 ? ClientBelow(*it, budget) : None;
      out.push_back(client != None ? client : *it);
    }
    return out;
  }

  // The check window of a running EWMH window manager: named on the root
  // and naming itself; None when no manager runs (or a dead one left the
  // property behind).
  Window WindowManager() {
    std::optional<std::vector<unsigned long>> named = Longs(root_, atoms_[kNetSupportingWmCheck], XA_WINDOW, 1);
    if (!named || named->size() != 1 || (*named)[0] == None) return None;
    const Window check = (*named)[0];
    std::optional<std::vector<unsigned long>> self = Longs(check, atoms_[kNetSupportingWmCheck], XA_WINDOW, 1);
    if (!self || self->size() != 1 || (*self)[0] != check) return None;
    return check;
  }

  bool Supports(Atom feature) {
    std::optional<std::vector<unsigned long>> supported =
        Longs(root_, atoms_[kNetSupported], XA_ATOM, kMaxSupportedAtoms);
    return supported && std::find(supported->begin(), supported->end(), feature) != supported->end();
  }

  void SendToManager(Window window, Atom type, const std::vector<long>& data) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    for (std::size_t i = 0; i < data.size() && i < 5; ++i) event.xclient.data.l[i] = data[i];
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  }

  XlibConnection connection_;
  Display* const display_;
  Window root_ = None;
  Atom atoms_[kAtomCount] = {};
  bool interned_ = false;
};


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
