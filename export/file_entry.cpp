#include "export/file_entry.hpp"

#include <json/json.h>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "export/base64_splice.hpp"
#include "export/export_paths.hpp"
#include "export/file_reading.hpp"

namespace {

Json::Value DownloadEntry(const std::string& name, Base64Splice& splice) {
  bool readable = false;
  Json::Value base64("");
  if (const auto path = ResolveExportName(name)) base64 = splice.StandInFile(*path, &readable);
  Json::Value entry(Json::objectValue);
  entry["success"] = readable;
  entry["base64"] = std::move(base64);
  entry["type"] = "base64";
  entry["filename"] = name;
  entry["full_filename"] = SupportFolderPrefix() + name;
  return entry;
}

}  // namespace

std::string EncodeFileEntry(const std::string& name, bool bareResult) {
  if (bareResult) {
    std::string base64;
    if (const auto path = ResolveExportName(name)) ReadFileAsBase64(*path, base64);
    return base64;
  }
  return ReplyText(EncodeFileEntryReply(name));
}

ReplyBody EncodeFileEntryReply(const std::string& name) {
  Base64Splice splice;
  return splice.Lay(DownloadEntry(name, splice));
}

std::string EncodeFileBase64W(const std::u16string& path) {
  const std::string narrow = WideToUtf8(path);
  // A NUL would make the file system open a different, shorter name.
  if (narrow.find('\0') != std::string::npos) return std::string();
  std::string base64;
  ReadFileAsBase64(narrow, base64);
  return base64;
}
