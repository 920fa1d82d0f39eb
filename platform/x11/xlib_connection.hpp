// What the X11 backends share: one connection to a display for one call,
// made on a thread of its own (see bounded_call.hpp), and the reading of a
// window property. Xlib's default handlers end the process on a protocol
// error or a lost connection; a connection made here turns the first into a
// flag of its call and the second into lost().
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace platform {

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p) XFree(p);
  }
};

// One connection, used by the thread that made it and by no other.
class XlibConnection {
 public:
  // The named display; empty means the one $DISPLAY names. display() is
  // null when it cannot be opened.
  explicit XlibConnection(const std::string& display_name);
  ~XlibConnection();
  XlibConnection(const XlibConnection&) = delete;
  XlibConnection& operator=(const XlibConnection&) = delete;

  Display* display() const { return display_; }
  bool lost() const { return lost_.load(); }

  // Forgets the protocol errors so far.
  void ClearErrors();
  // True when every request since ClearErrors reached the server without
  // error; waits for the server's answer.
  bool Synced();

 private:
  Display* display_ = nullptr;
  std::atomic<bool> lost_{false};
};

struct XProperty {
  Atom type = None;  // None when the window has no such property
  int format = 0;
  unsigned long items = 0;
  unsigned long bytes_after = 0;  // left unread beyond `max_units`
  std::unique_ptr<unsigned char, XFreeDeleter> data;
};

// XGetWindowProperty from the start: at most `max_units` 32-bit units of a
// property of `type` (AnyPropertyType for any), deleted once read whole when
// `remove`. Nothing when the request fails.
std::optional<XProperty> ReadProperty(Display* display, Window window, Atom property, long max_units,
                                      Atom type = AnyPropertyType, bool remove = false);

}  // namespace platform
