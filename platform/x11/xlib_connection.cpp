#include "platform/x11/xlib_connection.hpp"

#include <mutex>

namespace platform {
namespace {

// Protocol errors on the connection of the current thread's call: the
// window named in a request is gone (or never was), an owner vanished.
thread_local Display* t_trapped_display = nullptr;
thread_local bool t_trapped_error = false;
XErrorHandler g_next_handler = nullptr;

int TrapProtocolError(Display* display, XErrorEvent* event) {
  if (display == t_trapped_display) {
    t_trapped_error = true;
    return 0;
  }
  // Another part of the program's connection: its own handler decides.
  return g_next_handler ? g_next_handler(display, event) : 0;
}

int IgnoreConnectionLoss(Display*) { return 0; }

void InstallErrorHandlersOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    const XErrorHandler current = XSetErrorHandler(nullptr);
    const XErrorHandler fatal_default = XSetErrorHandler(TrapProtocolError);
    // Errors of other connections go to the handler that was there, unless
    // that is Xlib's fatal default.
    if (current != fatal_default) g_next_handler = current;
    // Xlib's default handler of a lost connection ends the process too; the
    // exit handler of each connection decides what happens instead.
    const XIOErrorHandler current_io = XSetIOErrorHandler(nullptr);
    const XIOErrorHandler fatal_io_default = XSetIOErrorHandler(current_io);
    if (current_io == fatal_io_default) XSetIOErrorHandler(IgnoreConnectionLoss);
  });
}

void OnConnectionLost(Display*, void* lost) { static_cast<std::atomic<bool>*>(lost)->store(true); }

}  // namespace

XlibConnection::XlibConnection(const std::string& display_name) {
  InstallErrorHandlersOnce();
  display_ = XOpenDisplay(display_name.empty() ? nullptr : display_name.c_str());
  if (!display_) return;
  XSetIOErrorExitHandler(display_, OnConnectionLost, &lost_);
  t_trapped_display = display_;
  t_trapped_error = false;
}

XlibConnection::~XlibConnection() {
  if (display_) XCloseDisplay(display_);
  t_trapped_display = nullptr;
}

void XlibConnection::ClearErrors() { t_trapped_error = false; }

bool XlibConnection::Synced() {
  if (lost()) return false;
  XSync(display_, False);
  return !lost() && !t_trapped_error;
}

std::optional<XProperty> ReadProperty(Display* display, Window window, Atom property, long max_units, Atom type,
                                      bool remove) {
  XProperty out;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, window, property, 0, max_units, remove ? True : False, type,
                                        &out.type, &out.format, &out.items, &out.bytes_after, &raw);
  out.data.reset(raw);
  if (status != Success) return std::nullopt;
  return out;
}

}  // namespace platform
