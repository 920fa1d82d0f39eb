#include "platform/clipboard_html_format.hpp"

#include <cctype>
#include <cstdio>

#include "base/utf.hpp"

namespace platform {
namespace {

constexpr std::string_view kStartMarker = "<!--StartFragment-->";
constexpr std::string_view kEndMarker = "<!--EndFragment-->";

// UTF-16 bytes to UTF-8; a lone surrogate becomes U+FFFD, an odd last byte
// is dropped.
std::string Utf16BytesToUtf8(std::string_view bytes, bool big_endian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  }
  return WideToUtf8(units);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool EndsTagName(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return true;
  const char c = s[pos];
  return c == '>' || c == '/' || std::isspace(static_cast<unsigned char>(c));
}

// Position of the first (or last) tag `<name` (`name` may start with '/'),
// compared without regard to case, followed by the end of the tag name.
std::size_t FindTag(std::string_view s, std::string_view name, bool last) {
  const std::size_t n = name.size() + 1;
  if (s.size() < n) return std::string_view::npos;
  std::size_t result = std::string_view::npos;
  for (std::size_t pos = s.find('<'); pos != std::string_view::npos && pos + n <= s.size();
       pos = s.find('<', pos + 1)) {
    if (EqualsIgnoreCase(s.substr(pos + 1, name.size()), name) && EndsTagName(s, pos + n)) {
      result = pos;
      if (!last) break;
    }
  }
  return result;
}

// Position right after the '>' that closes the tag starting at `tag`.
std::size_t AfterTag(std::string_view s, std::size_t tag) {
  const std::size_t close = s.find('>', tag);
  return close == std::string_view::npos ? s.size() : close + 1;
}

std::string Describe(std::string_view document, std::size_t fragment_start, std::size_t fragment_end) {
  char header[160];
  // Offsets are ten digits wide, so the header has the same length whatever
  // their values are.
  const auto header_for = [&](std::size_t start_html) {
    return std::snprintf(header, sizeof header,
                         "Version:0.9\r\nStartHTML:%010zu\r\nEndHTML:%010zu\r\n"
                         "StartFragment:%010zu\r\nEndFragment:%010zu\r\n",
                         start_html, start_html + document.size(), start_html + fragment_start,
                         start_html + fragment_end);
  };
  const int header_size = header_for(0);
  header_for(static_cast<std::size_t>(header_size));
  std::string out;
  out.reserve(static_cast<std::size_t>(header_size) + document.size());
  out.append(header, static_cast<std::size_t>(header_size));
  out.append(document);
  return out;
}

}  // namespace

std::string DecodeTextHtml(std::string_view in) {
  std::string text;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  if (in.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    text = Utf16BytesToUtf8(in.substr(2), false);
  } else if (in.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
    text = Utf16BytesToUtf8(in.substr(2), true);
  } else if (in.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    text.assign(in.substr(3));
  } else if (in.size() >= 2 && byte(0) != 0 && byte(1) == 0) {
    // Some owners write UTF-16LE without a mark; as UTF-8 it would end at
    // its second byte.
    text = Utf16BytesToUtf8(in, false);
  } else {
    text.assign(in);
  }
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

bool IsHtmlFormatDescription(std::string_view data) { return StartsWith(data, "Version:"); }

std::string HtmlFormatFromTextHtml(std::string_view text_html) {
  const std::string html = DecodeTextHtml(text_html);
  if (html.empty()) return {};
  if (IsHtmlFormatDescription(html)) return html;

  const std::string_view doc = html;
  // The reader finds the document by the exact "<html"; a document that
  // starts otherwise (upper case) is carried whole as a fragment.
  std::size_t html_tag = doc.find("<html");
  while (html_tag != std::string_view::npos && !EndsTagName(doc, html_tag + 5))
    html_tag = doc.find("<html", html_tag + 1);

  if (html_tag != std::string_view::npos) {
    const std::size_t start = doc.find(kStartMarker);
    const std::size_t end = doc.rfind(kEndMarker);
    if (start != std::string_view::npos && end != std::string_view::npos &&
        end >= start + kStartMarker.size()) {
      return Describe(doc, start + kStartMarker.size(), end);
    }
    // Whole document without markers: the fragment is its body.
    std::size_t open = FindTag(doc, "body", false);
    open = AfterTag(doc, open == std::string_view::npos ? html_tag : open);
    std::size_t close = FindTag(doc, "/body", true);
    if (close == std::string_view::npos || close < open) close = FindTag(doc, "/html", true);
    if (close == std::string_view::npos || close < open) close = doc.size();
    std::string marked;
    marked.reserve(doc.size() + kStartMarker.size() + kEndMarker.size());
    marked.append(doc.substr(0, open)).append(kStartMarker);
    marked.append(doc.substr(open, close - open)).append(kEndMarker);
    marked.append(doc.substr(close));
    return Describe(marked, open + kStartMarker.size(), close + kStartMarker.size());
  }

  constexpr std::string_view kBefore = "<html>\r\n<body>\r\n<!--StartFragment-->";
  constexpr std::string_view kAfter = "<!--EndFragment-->\r\n</body>\r\n</html>";
  std::string wrapped;
  wrapped.reserve(kBefore.size() + doc.size() + kAfter.size());
  wrapped.append(kBefore).append(doc).append(kAfter);
  return Describe(wrapped, kBefore.size(), kBefore.size() + doc.size());
}

}  // namespace platform
