// The desktop clipboard, as the clipboard reader needs it.
//
// The editor page asks for the clipboard in the shape Windows keeps it: a
// bitmap, the text as UTF-16 and the "HTML Format" description. Each backend
// turns its own clipboard into that shape (x11/clipboard.cpp on X11 desktops),
// a test double stands in for it in tests (testing/fake_clipboard.hpp).
#pragma once

#include <memory>
#include <string>

#include "platform/current_backend.hpp"

namespace platform {

// One look at the clipboard. Every member is empty when the clipboard does
// not hold that kind of data.
struct ClipboardContents {
  // A bitmap as the bytes of a PNG file.
  std::string png;
  // The plain text, UTF-16.
  std::u16string text;
  // The HTML in the "HTML Format" description form, UTF-8: the header lines
  // "Version:", "StartHTML:", "EndHTML:", "StartFragment:", "EndFragment:"
  // with byte offsets, then the document, whose fragment is enclosed in
  // <!--StartFragment--> and <!--EndFragment-->.
  std::string html_format;
};

class Clipboard {
 public:
  virtual ~Clipboard() = default;

  // Reads what the clipboard holds now. Never throws and never waits without
  // bound: no clipboard, no owner, an owner that does not answer in time or a
  // failed transfer all read as empty contents. Safe to call from several
  // threads; the backend serialises its own access.
  virtual ClipboardContents Read() = 0;

  // The process-wide clipboard: the platform backend unless a test has
  // installed another one.
  static Clipboard& Get() { return CurrentBackend<Clipboard>::Get(); }

  // Installs `clipboard` as the process-wide one (nullptr restores the
  // platform backend). Not thread-safe; call it before any reader runs.
  static void SetForTesting(std::unique_ptr<Clipboard> clipboard) {
    CurrentBackend<Clipboard>::SetForTesting(std::move(clipboard));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<Clipboard> CreatePlatformBackend();
};

}  // namespace platform
