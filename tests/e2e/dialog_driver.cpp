#include "tests/e2e/dialog_driver.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sstream>
#include <string_view>
#include <thread>

namespace e2e {
namespace {

// A window may vanish between two requests; Xlib's default handler would end
// the test program for that.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

class Connection {
 public:
  explicit Connection(const std::string& name) {
    static const bool installed = (XSetErrorHandler(IgnoreXError), true);
    (void)installed;
    display_ = XOpenDisplay(name.c_str());
  }
  ~Connection() {
    if (display_) XCloseDisplay(display_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Display* get() const { return display_; }

 private:
  Display* display_ = nullptr;
};

// At most `max_items` items of a property, as raw 32-bit values (format 32
// arrives in longs) or bytes (format 8).
bool ReadProperty(Display* d, Window w, const char* name, Atom type, long max_items,
                  std::vector<unsigned long>* longs, std::string* bytes) {
  Atom actual = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const Atom property = XInternAtom(d, name, False);
  if (XGetWindowProperty(d, w, property, 0, max_items, False, type, &actual, &format, &count, &after,
                         &data) != Success ||
      data == nullptr) {
    return false;
  }
  const bool ok = actual != None && count > 0;
  if (ok && format == 32 && longs) {
    const unsigned long* values = reinterpret_cast<const unsigned long*>(data);
    longs->assign(values, values + count);
  } else if (ok && format == 8 && bytes) {
    bytes->assign(reinterpret_cast<const char*>(data), count);
  }
  XFree(data);
  return ok;
}

std::string TitleOf(Display* d, Window w) {
  std::string title;
  if (ReadProperty(d, w, "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False), 4096, nullptr,
                   &title)) {
    return title;
  }
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

Window ParentOf(Display* d, Window w) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
  if (children) XFree(children);
  return parent;
}

// The window's ancestor that is a direct child of the root: its frame, or
// the window itself.
Window TopLevelOf(Display* d, Window w) {
  const Window root = DefaultRootWindow(d);
  for (int depth = 0; w != 0 && depth < 64; ++depth) {
    const Window parent = ParentOf(d, w);
    if (parent == root || parent == 0) return w;
    w = parent;
  }
  return 0;
}

bool Contains(Display* d, Window ancestor, Window w) {
  const Window root = DefaultRootWindow(d);
  for (int depth = 0; w != 0 && w != root && depth < 64; ++depth) {
    if (w == ancestor) return true;
    w = ParentOf(d, w);
  }
  return false;
}

// An extended regular expression matching `text` literally.
std::string ExactPattern(const std::string& text) {
  std::string pattern = "^";
  for (const char c : text) {
    if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

void Pause(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

}  // namespace

DialogDriver::DialogDriver(const TestHome& home, std::string display)
    : home_(home), display_(std::move(display)) {}

void DialogDriver::Note(const std::string& line) { log_ += line + "\n"; }

std::optional<std::string> DialogDriver::Xdotool(const std::vector<std::string>& args,
                                                 milliseconds limit) {
  const std::string prefix = home_.root() + "/xdotool-" + std::to_string(++runs_);
  Process run("/usr/bin/xdotool", home_.Environment({"DISPLAY=" + display_}), prefix, args);
  const std::optional<int> code = run.WaitExit(limit);
  std::string line = "xdotool";
  for (const std::string& arg : args) line += " " + arg;
  Note(line + (code ? " -> " + std::to_string(*code) : " -> still running, killed"));
  if (code != 0) return std::nullopt;
  return run.Stdout();
}

std::vector<unsigned long> DialogDriver::WindowsTitled(const std::string& title) {
  std::vector<unsigned long> windows;
  // xdotool matches without regard to case; the title must be exact.
  const std::optional<std::string> ids = Xdotool({"search", "--onlyvisible", "--name", ExactPattern(title)});
  if (!ids) return windows;
  std::istringstream lines(*ids);
  unsigned long id = 0;
  while (lines >> id) {
    const std::optional<WindowState> state = Inspect(id);
    if (state && state->viewable && state->title == title) windows.push_back(id);
  }
  return windows;
}

unsigned long DialogDriver::WaitForWindow(const std::string& title, milliseconds limit) {
  unsigned long found = 0;
  WaitUntil(
      [&] {
        const std::vector<unsigned long> windows = WindowsTitled(title);
        if (!windows.empty()) {
          found = windows.front();
          return true;
        }
        Pause(100);
        return false;
      },
      limit);
  return found;
}

bool DialogDriver::TypeInto(unsigned long window, const std::string& text) {
  Activate(window);
  return Xdotool({"type", "--clearmodifiers", "--delay", "20", text}, milliseconds(20000)).has_value();
}

bool DialogDriver::PressKeys(unsigned long window, const std::string& keys) {
  Activate(window);
  return Xdotool({"key", "--clearmodifiers", keys}).has_value();
}

long DialogDriver::OwnerPid(unsigned long window) const {
  Connection connection(display_);
  Display* d = connection.get();
  std::vector<unsigned long> pid;
  if (!d || !ReadProperty(d, window, "_NET_WM_PID", XA_CARDINAL, 1, &pid, nullptr) || pid.empty()) return 0;
  return static_cast<long>(pid[0]);
}

bool DialogDriver::WaitGone(unsigned long window, milliseconds limit) {
  return WaitUntil(
      [&] {
        const std::optional<WindowState> state = Inspect(window);
        return !state || !state->viewable;
      },
      limit);
}

void DialogDriver::Activate(unsigned long window) {
  const std::string id = std::to_string(window);
  // Without a window manager nothing answers an activation request; the
  // focus can still be set directly.
  if (WindowManagerRunning() && Xdotool({"windowactivate", "--sync", id}, milliseconds(3000))) return;
  Xdotool({"windowfocus", "--sync", id}, milliseconds(3000));
}

bool DialogDriver::ChooseFile(const std::string& title, const std::string& path, milliseconds limit) {
  const auto end = Clock::now() + limit;
  const unsigned long window = WaitForWindow(title, limit);
  if (!window) {
    Note("no window titled \"" + title + "\"");
    return false;
  }
  // The chooser takes a while to load its folder; keys pressed before are
  // lost now and then, so each step is repeated while it stays open.
  for (int attempt = 0; attempt < 4 && Clock::now() < end; ++attempt) {
    Activate(window);
    Xdotool({"key", "--clearmodifiers", "ctrl+l"});
    Pause(300);
    Xdotool({"key", "--clearmodifiers", "ctrl+a"});
    Xdotool({"type", "--clearmodifiers", "--delay", "15", path}, milliseconds(20000));
    Pause(300);
    for (int press = 0; press < 3; ++press) {
      Xdotool({"key", "--clearmodifiers", "Return"});
      if (WaitGone(window, milliseconds(2000))) return true;
    }
  }
  Note("the chooser stayed open");
  return false;
}

bool DialogDriver::Cancel(const std::string& title, milliseconds limit) {
  const auto end = Clock::now() + limit;
  const unsigned long window = WaitForWindow(title, limit);
  if (!window) {
    Note("no window titled \"" + title + "\"");
    return false;
  }
  for (int attempt = 0; attempt < 4 && Clock::now() < end; ++attempt) {
    Activate(window);
    Xdotool({"key", "--clearmodifiers", "Escape"});
    if (WaitGone(window, milliseconds(2000))) return true;
  }
  Note("the dialog stayed open");
  return false;
}

bool DialogDriver::WindowManagerRunning() const {
  Connection connection(display_);
  Display* d = connection.get();
  if (!d) return false;
  std::vector<unsigned long> check;
  return ReadProperty(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1, &check,
                      nullptr) &&
         !check.empty() && check[0] != 0;
}

std::optional<WindowState> DialogDriver::Inspect(unsigned long id) const {
  Connection connection(display_);
  Display* d = connection.get();
  if (!d) return std::nullopt;
  const Window w = id;
  const Window root = DefaultRootWindow(d);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(d, w, &attributes)) return std::nullopt;

  WindowState state;
  state.id = id;
  state.title = TitleOf(d, w);
  state.viewable = attributes.map_state == IsViewable;
  state.width = attributes.width;
  state.height = attributes.height;
  Window child = 0;
  XTranslateCoordinates(d, w, root, 0, 0, &state.client_x, &state.client_y, &child);

  const Window top = TopLevelOf(d, w);
  state.reparented = top != 0 && top != w;
  XWindowAttributes outer;
  if (top && XGetWindowAttributes(d, top, &outer)) {
    state.outer_x = outer.x;
    state.outer_y = outer.y;
  }

  std::vector<unsigned long> atoms;
  if (ReadProperty(d, w, "_NET_WM_STATE", XA_ATOM, 64, &atoms, nullptr)) {
    const Atom above = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
    for (const unsigned long atom : atoms) state.state_above = state.state_above || atom == above;
  }

  // The root's children come bottom to top.
  Window root_return = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (top && XQueryTree(d, root, &root_return, &parent, &children, &count)) {
    bool seen = false;
    state.topmost = true;
    for (unsigned int i = 0; i < count; ++i) {
      if (children[i] == top) {
        seen = true;
        continue;
      }
      XWindowAttributes other;
      if (!seen || !XGetWindowAttributes(d, children[i], &other)) continue;
      // Menus, tooltips and the window manager's own unmapped helpers do
      // not count: only windows a user would see as covering it.
      if (other.map_state != IsViewable || other.override_redirect) continue;
      state.topmost = false;
      std::ostringstream name;
      name << "0x" << std::hex << children[i];
      state.covered_by = name.str();
      break;
    }
    state.topmost = state.topmost && seen;
    if (children) XFree(children);
  }

  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  state.focused = focus != None && focus != PointerRoot && Contains(d, w, focus);
  std::vector<unsigned long> active;
  state.active = ReadProperty(d, root, "_NET_ACTIVE_WINDOW", XA_WINDOW, 1, &active, nullptr) &&
                 !active.empty() && active[0] == id;
  return state;
}

StandInWindow::StandInWindow(const std::string& display, const std::string& title) {
  Display* d = XOpenDisplay(display.c_str());
  display_ = d;
  if (!d) return;
  const int screen = DefaultScreen(d);
  window_ = XCreateSimpleWindow(d, RootWindow(d, screen), 40, 40, 600, 400, 0,
                                BlackPixel(d, screen), WhitePixel(d, screen));
  XStoreName(d, window_, title.c_str());
  XChangeProperty(d, window_, XInternAtom(d, "_NET_WM_NAME", False),
                  XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = True;
  XSetWMHints(d, window_, &hints);
  Map();
}

void StandInWindow::Map() {
  Display* d = static_cast<Display*>(display_);
  if (!d || !window_) return;
  XMapRaised(d, window_);
  XSync(d, False);
}

StandInWindow::~StandInWindow() {
  Display* d = static_cast<Display*>(display_);
  if (!d) return;
  if (window_) XDestroyWindow(d, window_);
  XCloseDisplay(d);
}

}  // namespace e2e
