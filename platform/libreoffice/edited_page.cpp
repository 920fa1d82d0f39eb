#include "platform/libreoffice/edited_page.hpp"

#include <stdexcept>
#include <unordered_map>

#include "base/utf.hpp"
#include "platform/libreoffice/text_support.hpp"
#include "platform/libreoffice/web_page_layout.hpp"

namespace fs = std::filesystem;

namespace platform::libreoffice {

std::string CharsetName(CodePage codePage) {
  static const std::unordered_map<CodePage, const char*> kNames = {
      {437, "ibm437"},         {850, "ibm850"},          {874, "windows-874"},     {932, "shift_jis"},
      {936, "gb2312"},         {949, "ks_c_5601-1987"},  {950, "big5"},            {1250, "windows-1250"},
      {1251, "windows-1251"},  {1252, "windows-1252"},   {1253, "windows-1253"},   {1254, "windows-1254"},
      {1255, "windows-1255"},  {1256, "windows-1256"},   {1257, "windows-1257"},   {1258, "windows-1258"},
      {20127, "us-ascii"},     {28591, "iso-8859-1"},    {28592, "iso-8859-2"},    {28595, "iso-8859-5"},
      {28597, "iso-8859-7"},   {28599, "iso-8859-9"},    {28605, "iso-8859-15"},   {51949, "euc-kr"},
      {65001, "utf-8"},
  };
  const CodePage resolved = ResolvedCodePage(codePage);
  const auto it = kNames.find(resolved);
  return it != kNames.end() ? it->second : "windows-" + std::to_string(resolved);
}

std::string DeclareCharset(const std::string& html, const std::string& charset) {
  const std::string lower = Lower(html);
  std::string out;
  out.reserve(html.size() + 16);
  std::size_t copied = 0;
  for (std::size_t meta = lower.find("<meta"); meta != std::string::npos; meta = lower.find("<meta", meta + 5)) {
    const std::size_t close = lower.find('>', meta);
    if (close == std::string::npos) break;
    const std::size_t key = lower.find("charset=", meta);
    if (key == std::string::npos || key > close) continue;
    std::size_t start = key + 8;
    std::size_t end;
    if (start < close && (html[start] == '"' || html[start] == '\'')) {
      const char quote = html[start++];
      end = html.find(quote, start);
      if (end == std::string::npos || end > close) end = close;
    } else {
      end = lower.find_first_of("\"'; \t\r\n/>", start);
      if (end == std::string::npos || end > close) end = close;
    }
    out.append(html, copied, start - copied);
    out += charset;
    copied = end;
  }
  out.append(html, copied, std::string::npos);
  return out;
}

std::string EncodeWithReferences(std::string_view utf8, CodePage codePage) {
  const CodePage target = ResolvedCodePage(codePage);
  if (!IsKnownCodePage(target)) return std::string();
  if (target == kCodePageUtf8) return std::string(utf8);
  std::u16string wide;
  DecodeUtf8(utf8, wide);
  std::string out;
  out.reserve(utf8.size());
  // A page repeats few distinct characters; each is encoded once.
  std::unordered_map<char32_t, std::string> encoded;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    std::size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      units = 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    auto it = encoded.find(c);
    if (it == encoded.end()) {
      std::string bytes;
      WideToMultiByte(target, std::u16string_view(wide).substr(i, units), bytes);
      // The code page's stand-in for a missing character is '?'.
      if (bytes.empty() || bytes == "?") bytes = "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ";";
      it = encoded.emplace(c, std::move(bytes)).first;
    }
    out += it->second;
    i += units - 1;
  }
  return out;
}

std::string PageForEditing(std::string_view bytes, CodePage codePage) {
  std::string utf8;
  // An unknown code page reads as UTF-8.
  if (!CodePageToUtf8(codePage, bytes, utf8)) CodePageToUtf8(kCodePageUtf8, bytes, utf8);
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (utf8.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) utf8.erase(0, kByteOrderMark.size());
  // The office would switch to whatever a page declares; the page is now
  // UTF-8 whatever it said, and says so first.
  return "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">" +
         DeclareCharset(utf8, "utf-8");
}

void FinishSavedPage(const fs::path& page, CodePage codePage) {
  LayoutChoices choices;
  choices.officeFilePrefix = page.stem().string() + "_html_";
  choices.keepLinkedPictures = true;
  // A code page we cannot write leaves the page in UTF-8, as it declares.
  const CodePage target = ResolvedCodePage(codePage);
  if (target != kCodePageUtf8 && IsKnownCodePage(target)) {
    choices.finalText = [target](const std::string& html) {
      return DeclareCharset(EncodeWithReferences(html, target), CharsetName(target));
    };
  }
  InstallWebPage(page, page, choices);
}

}  // namespace platform::libreoffice
