#include "tests/platform/top_level_windows_x11_harness.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

extern char** environ;

namespace windows_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The harness's windows may be gone by the time a request reaches them;
// that is no reason to end the test program.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

Atom Intern(Display* d, const char* name) { return XInternAtom(d, name, False); }

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env, int keep_fd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(extra_env.begin(), extra_env.end(),
                                      [&](const std::string& x) { return x.rfind(name + "=", 0) == 0; });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> arg_ptrs = Pointers(args);
  std::vector<char*> env_ptrs = Pointers(env);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ != 0) return;
  // Dies with the test, also when it crashes.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
  execvpe(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
  _exit(127);
}

Child::~Child() { Kill(); }

Child::Child(Child&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

void Child::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

TempDir::TempDir() {
  char path[] = "/tmp/windows-test-XXXXXX";
  if (mkdtemp(path)) path_ = path;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

XServer::XServer(bool window_manager) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // -noreset: the server would otherwise restart, refusing connections for a
  // moment, whenever its last client goes.
  xvfb_ = Child({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-noreset", "-screen", "0",
                 "1024x768x24"},
                {}, fds[1]);
  close(fds[1]);
  std::string number;
  const auto deadline = Clock::now() + 10s;
  while (xvfb_.pid() > 0 && Clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    xvfb_.Kill();
    return;
  }
  const std::string display = ":" + number;
  if (window_manager) {
    openbox_ = Child({"openbox", "--sm-disable"},
                     {"DISPLAY=" + display, "HOME=" + home_.path(), "XDG_CONFIG_HOME=" + home_.path() + "/config",
                      "XDG_CACHE_HOME=" + home_.path() + "/cache"});
    // openbox names its check window a moment before it takes over the
    // root, and a window mapped in between is never managed: it is ready once
    // a window of ours gets managed.
    WindowClient probe(display);
    const bool ready = probe.ok() && Eventually([&] { return probe.HasWindowManager(); }, 10s) &&
                       Eventually([&] { return probe.Manages(); }, 10s);
    if (!ready) {
      Kill();
      return;
    }
  }
  display_ = display;
}

XServer::~XServer() { Kill(); }

void XServer::Kill() {
  openbox_.Kill();
  xvfb_.Kill();
  display_.clear();
}

WindowClient::WindowClient(const std::string& display) {
  XSetErrorHandler(IgnoreError);
  display_ = XOpenDisplay(display.c_str());
}

WindowClient::~WindowClient() {
  if (display_) XCloseDisplay(display_);
}

Window WindowClient::Create(const std::string& title, platform::WindowRect rect, Window owner, bool shown) {
  const Window root = DefaultRootWindow(display_);
  const Window window = XCreateSimpleWindow(display_, root, rect.left, rect.top, rect.width(), rect.height(), 0, 0,
                                            WhitePixel(display_, DefaultScreen(display_)));
  XChangeProperty(display_, window, Intern(display_, "_NET_WM_NAME"), Intern(display_, "UTF8_STRING"), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
  std::string copy = title;
  char* list[] = {copy.data()};
  XTextProperty name{};
  if (Xutf8TextListToTextProperty(display_, list, 1, XStdICCTextStyle, &name) == Success) {
    XSetWMName(display_, window, &name);
    XFree(name.value);
  }
  // Where the test put it, and ready to take the focus.
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = rect.left;
  size.y = rect.top;
  size.width = rect.width();
  size.height = rect.height();
  XSetWMNormalHints(display_, window, &size);
  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XSetWMHints(display_, window, &hints);
  if (owner) XSetTransientForHint(display_, window, owner);
  if (shown) {
    XMapWindow(display_, window);
    WaitShown(window);
  }
  XSync(display_, False);
  return window;
}

Window WindowClient::CreateTitledBy(const char* property, const char* type, int format, const std::string& bytes) {
  const Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 50, 50, 0, 0, 0);
  XChangeProperty(display_, window, Intern(display_, property), Intern(display_, type), format, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  XMapWindow(display_, window);
  WaitShown(window);
  return window;
}

bool WindowClient::HasWmState(Window window) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* raw = nullptr;
  XGetWindowProperty(display_, window, Intern(display_, "WM_STATE"), 0, 2, False, AnyPropertyType, &type, &format,
                     &items, &after, &raw);
  if (raw) XFree(raw);
  return type != None;
}

bool WindowClient::WaitShown(Window window, std::chrono::milliseconds limit) {
  const bool managed = HasWindowManager();
  return Eventually([&] { return Viewable(window) && (!managed || HasWmState(window)); }, limit);
}

bool WindowClient::Manages() {
  const Window canary = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
  XMapWindow(display_, canary);
  XSync(display_, False);
  const bool managed = Eventually([&] { return HasWmState(canary); }, 500ms);
  Destroy(canary);
  return managed;
}

bool WindowClient::Show(Window window) {
  XChangeProperty(display_, window, Intern(display_, "_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace, nullptr, 0);
  XMapWindow(display_, window);
  return WaitShown(window);
}

void WindowClient::Destroy(Window window) {
  XDestroyWindow(display_, window);
  XSync(display_, False);
}

bool WindowClient::HasWindowManager() {
  const Atom check = Intern(display_, "_NET_SUPPORTING_WM_CHECK");
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* raw = nullptr;
  XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, XA_WINDOW, &type, &format, &items,
                     &after, &raw);
  const bool present = raw && items == 1;
  if (raw) XFree(raw);
  return present;
}

std::optional<platform::WindowRect> WindowClient::ClientRect(Window window) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(display_, window, &a)) return std::nullopt;
  int x = 0, y = 0;
  Window child;
  if (!XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child))
    return std::nullopt;
  return platform::WindowRect{x, y, x + a.width, y + a.height};
}

std::optional<std::pair<std::string, std::string>> WindowClient::Property(Window window, const char* name) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display_, window, Intern(display_, name), 0, 1 << 16, False, AnyPropertyType, &type,
                         &format, &items, &after, &raw) != Success ||
      type == None || format != 8) {
    if (raw) XFree(raw);
    return std::nullopt;
  }
  std::string bytes(reinterpret_cast<const char*>(raw), items);
  XFree(raw);
  char* type_name = XGetAtomName(display_, type);
  std::pair<std::string, std::string> out{type_name ? type_name : "", bytes};
  if (type_name) XFree(type_name);
  return out;
}

bool WindowClient::HasState(Window window, const char* state) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* raw = nullptr;
  XGetWindowProperty(display_, window, Intern(display_, "_NET_WM_STATE"), 0, 64, False, XA_ATOM, &type, &format,
                     &items, &after, &raw);
  bool found = false;
  const Atom wanted = Intern(display_, state);
  for (unsigned long i = 0; raw && i < items; ++i) found |= reinterpret_cast<unsigned long*>(raw)[i] == wanted;
  if (raw) XFree(raw);
  return found;
}

Window WindowClient::Focus() {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  return focus;
}

bool WindowClient::FocusWithin(Window window) {
  Window w = Focus();
  for (int depth = 0; depth < 16 && w != None && w != PointerRoot; ++depth) {
    if (w == window) return true;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return false;
    if (children) XFree(children);
    w = parent;
  }
  return false;
}

Window WindowClient::ActiveWindow() {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* raw = nullptr;
  XGetWindowProperty(display_, DefaultRootWindow(display_), Intern(display_, "_NET_ACTIVE_WINDOW"), 0, 1, False,
                     XA_WINDOW, &type, &format, &items, &after, &raw);
  const Window active = raw && items == 1 ? reinterpret_cast<unsigned long*>(raw)[0] : None;
  if (raw) XFree(raw);
  return active;
}

bool WindowClient::Viewable(Window window) {
  XWindowAttributes a;
  return XGetWindowAttributes(display_, window, &a) && a.map_state == IsViewable;
}

std::vector<Window> WindowClient::RootChildren() {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return {};
  std::vector<Window> out(children, children + count);
  if (children) XFree(children);
  return out;
}

Window WindowClient::RootChildHolding(Window window) {
  const Window root_window = DefaultRootWindow(display_);
  for (int depth = 0; depth < 16 && window != None; ++depth) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, window, &root, &parent, &children, &count)) return None;
    if (children) XFree(children);
    if (parent == root_window) return window;
    window = parent;
  }
  return None;
}

bool WindowClient::StackedOver(Window a, Window b) {
  const Window top_a = RootChildHolding(a), top_b = RootChildHolding(b);
  const std::vector<Window> order = RootChildren();  // bottom to top
  const auto at_a = std::find(order.begin(), order.end(), top_a);
  const auto at_b = std::find(order.begin(), order.end(), top_b);
  return at_a != order.end() && at_b != order.end() && at_a > at_b;
}

bool WindowClient::OnTop(Window window) {
  std::vector<Window> order = RootChildren();
  // Unmapped windows (a manager's menus, say) cover nothing.
  order.erase(std::remove_if(order.begin(), order.end(), [&](Window w) { return !Viewable(w); }), order.end());
  return !order.empty() && order.back() == RootChildHolding(window);
}

}  // namespace windows_test
