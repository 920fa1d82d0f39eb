#include "export/text_file_entry.hpp"

#include <json/json.h>

#include <optional>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "export/export_paths.hpp"
#include "export/file_reading.hpp"
#include "platform/codepage.hpp"

namespace {

std::optional<std::string> ResolveTextName(const std::string& name) {
  if (name == "index.html" || name == "import.html") {
    if (!ExportPathsReady()) return std::nullopt;
    return ImportHtmlPathUtf8();
  }
  return ResolveExportName(name);
}

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    const char16_t unit = big_endian ? static_cast<char16_t>((first << 8) | second)
                                     : static_cast<char16_t>((second << 8) | first);
    if (unit == 0) break;
    wide.push_back(unit);
  }
  return WideToUtf8(wide);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool DecodeExportedText(const std::string& bytes, platform::CodePage code_page,
                        std::string& utf8) {
  const std::string_view view(bytes);
  if (StartsWith(view, "\xEF\xBB\xBF")) {
    return platform::CodePageToUtf8(platform::kCodePageUtf8, UpToNul(view.substr(3)), utf8);
  }
  if (StartsWith(view, "\xFF\xFE")) {
    utf8 = Utf16ToUtf8(view.substr(2), false);
    return true;
  }
  if (StartsWith(view, "\xFE\xFF")) {
    utf8 = Utf16ToUtf8(view.substr(2), true);
    return true;
  }
  return platform::CodePageToUtf8(code_page, UpToNul(view), utf8);
}

std::string ReadTextFileEntry(const std::string& name,
                              platform::CodePage code_page, bool bareResult) {
  std::string text;
  bool success = false;
  if (const auto path = ResolveTextName(name)) {
    std::string bytes;
    success = ReadWholeFile(*path, kMaxTextFileBytes, bytes) &&
              DecodeExportedText(bytes, code_page, text);
  }
  if (!success) text.clear();
  if (bareResult) return text;

  Json::Value entry(Json::objectValue);
  entry["success"] = success;
  entry["text"] = text;
  entry["type"] = "text";
  entry["filename"] = name;
  entry["full_filename"] = SupportFolderPrefix() + name;
  return StyledJson(entry);
}
