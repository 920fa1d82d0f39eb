#include "export/file_entry.hpp"

#include <json/json.h>

#include "export/export_paths.hpp"
#include "export/file_reading.hpp"
#include "export/json_text.hpp"
#include "export/text_conversion.hpp"

std::string EncodeFileEntry(const std::string& name, bool bareResult) {
  std::string base64;
  bool readable = false;
  if (const auto path = ResolveExportName(name)) {
    readable = ReadFileAsBase64(*path, base64);
  }
  if (bareResult) return base64;

  Json::Value entry(Json::objectValue);
  entry["success"] = readable;
  entry["base64"] = base64;
  entry["type"] = "base64";
  entry["filename"] = name;
  entry["full_filename"] = SupportFolderPrefix() + name;
  return StyledJson(entry);
}

std::string EncodeFileBase64W(const std::u16string& path) {
  const std::string narrow = WideToUtf8(path);
  // A NUL would make the file system open a different, shorter name.
  if (narrow.find('\0') != std::string::npos) return std::string();
  std::string base64;
  ReadFileAsBase64(narrow, base64);
  return base64;
}
