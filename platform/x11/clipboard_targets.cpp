#include "platform/x11/clipboard_targets.hpp"

#include <algorithm>

#include "platform/x11/clipboard_html_format.hpp"

namespace platform {
namespace {

std::u16string Latin1ToUtf16(std::string_view latin1) {
  std::u16string out;
  out.reserve(latin1.size());
  for (const char c : latin1) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

}  // namespace

bool HasPngSignature(std::string_view bytes) {
  static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
  return bytes.substr(0, 8) == std::string_view(kSignature, 8);
}

std::u16string Utf8ToUtf16Lenient(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  const auto cont = [&](std::size_t k) {
    return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80;
  };
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      const char32_t v = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F);
      // Overlong forms and surrogates are not characters.
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
        c = v;
        len = 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      const char32_t v = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                         (s[i + 3] & 0x3F);
      if (v >= 0x10000 && v <= 0x10FFFF) {
        c = v;
        len = 4;
      }
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

ClipboardContents ReadClipboardContents(ClipboardTargetSource& source, const ClipboardLimits& limits) {
  ClipboardContents contents;
  const std::optional<std::vector<std::string>> listed = source.Targets();
  if (source.Unresponsive()) return contents;
  // An owner that will not list its targets is asked for each one directly.
  const auto offered = [&](const char* target) {
    return !listed || std::find(listed->begin(), listed->end(), target) != listed->end();
  };
  const auto fetch = [&](const char* target, std::size_t max_bytes) -> std::optional<std::string> {
    if (source.Unresponsive() || !offered(target)) return std::nullopt;
    return source.Fetch(target, max_bytes);
  };

  if (auto png = fetch(kTargetPng, limits.max_png_bytes); png && HasPngSignature(*png)) {
    contents.png = std::move(*png);
  }

  for (const char* target : {kTargetUtf8String, kTargetTextPlainUtf8, kTargetString}) {
    if (auto text = fetch(target, limits.max_text_bytes)) {
      contents.text = target == kTargetString ? Latin1ToUtf16(*text) : Utf8ToUtf16Lenient(*text);
      break;
    }
  }

  if (auto described = fetch(kTargetHtmlFormat, limits.max_html_bytes);
      described && IsHtmlFormatDescription(*described)) {
    contents.html_format = std::move(*described);
  } else if (auto html = fetch(kTargetTextHtml, limits.max_html_bytes)) {
    contents.html_format = HtmlFormatFromTextHtml(*html);
  }
  return contents;
}

}  // namespace platform
