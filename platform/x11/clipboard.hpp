// The CLIPBOARD selection of an X11 display, read with Xlib.
//
// Each read opens its own connection, asks the owner for its targets and
// fetches the wanted ones (incremental transfers included). All waiting is
// bounded: an owner that does not answer, or a display that hangs, gives an
// empty clipboard after the time limits below.
#pragma once

#include <chrono>
#include <string>

#include "platform/clipboard.hpp"
#include "platform/clipboard_targets.hpp"
#include "platform/x11/bounded_call.hpp"

namespace platform {

struct X11ClipboardOptions {
  // The display to read; empty means the one $DISPLAY names.
  std::string display;
  // Longest wait for one answer of the owner: a conversion, or the next part
  // of an incremental transfer.
  std::chrono::milliseconds answer_timeout{2000};
  // Longest a whole read may take.
  std::chrono::milliseconds read_timeout{5000};
  ClipboardLimits limits;
};

class X11Clipboard final : public Clipboard {
 public:
  explicit X11Clipboard(X11ClipboardOptions options = {});
  ~X11Clipboard() override;

  ClipboardContents Read() override;

 private:
  const X11ClipboardOptions options_;
  BoundedCall<ClipboardContents> reads_;
};

}  // namespace platform
