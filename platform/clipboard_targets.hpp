// From what a clipboard owner offers to the clipboard contents.
//
// X11 owners (and Wayland ones) offer their data under MIME-like target
// names. This picks the targets the reader wants, in order of preference,
// fetches them within size limits and converts them: text to UTF-16, HTML to
// the "HTML Format" description form. The transport that fetches a target is
// separate (x11/clipboard.cpp on Xlib, an in-memory one in the test double).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clipboard.hpp"

namespace platform {

// Largest data accepted from an owner, per kind. Larger data reads as absent:
// a cut PNG or a cut HTML document would be corrupt.
struct ClipboardLimits {
  std::size_t max_png_bytes = std::size_t{64} << 20;
  std::size_t max_text_bytes = std::size_t{16} << 20;
  std::size_t max_html_bytes = std::size_t{32} << 20;
};

// Target names, as X11 atoms and MIME types name them.
inline constexpr char kTargetPng[] = "image/png";
inline constexpr char kTargetUtf8String[] = "UTF8_STRING";
inline constexpr char kTargetTextPlainUtf8[] = "text/plain;charset=utf-8";
inline constexpr char kTargetString[] = "STRING";  // ISO 8859-1
inline constexpr char kTargetTextHtml[] = "text/html";
// Offered by owners that already speak the Windows description form.
inline constexpr char kTargetHtmlFormat[] = "HTML Format";

// The data of the current clipboard owner.
class ClipboardTargetSource {
 public:
  virtual ~ClipboardTargetSource() = default;

  // The wanted targets among those the owner offers; std::nullopt when the
  // owner would not list them (or did not answer, see Unresponsive()).
  virtual std::optional<std::vector<std::string>> Targets() = 0;

  // The data of `target`; std::nullopt when the owner refuses it, does not
  // answer in time, or offers more than `max_bytes`.
  virtual std::optional<std::string> Fetch(const std::string& target, std::size_t max_bytes) = 0;

  // True once the owner has failed to answer: asking again only waits.
  virtual bool Unresponsive() const = 0;
};

// Reads the bitmap (image/png only; a bitmap offered in other formats counts
// as no bitmap), the text and the HTML from `source`.
ClipboardContents ReadClipboardContents(ClipboardTargetSource& source, const ClipboardLimits& limits);

// True when `bytes` starts with the PNG file signature.
bool HasPngSignature(std::string_view bytes);

}  // namespace platform
