#include "platform/clipboard_targets.hpp"

#include <algorithm>

#include "base/utf.hpp"
#include "platform/clipboard_html_format.hpp"

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
      contents.text = target == kTargetString ? Latin1ToUtf16(*text) : Utf8ToWideLenient(*text, Utf8Errors::kReplaceEachByte);
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
