#include "export/collected_file.hpp"

#include "base/extension.hpp"
#include "export/base64_splice.hpp"
#include "export/export_paths.hpp"
#include "export/file_entry.hpp"
#include "export/text_file_entry.hpp"

namespace {

struct ExtensionType {
  const char* extension;
  const char* mime_type;
};

// Tested in this order; every match sets the type, so a later match wins.
constexpr ExtensionType kImageTypes[] = {
    {".png", "image/png"},  {".gif", "image/gif"},   {".bmp", "image/bmp"},
    {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"}, {".ico", "image/x-icon"},
};

constexpr ExtensionType kTextTypes[] = {
    {".xml", "text/xml"},   {".txt", "text/plain"}, {".html", "text/html"},
    {".htm", "text/html"},  {".css", "text/css"},
};

template <std::size_t N>
const char* MimeTypeOf(const std::string& name, const ExtensionType (&table)[N]) {
  const char* type = nullptr;
  for (const ExtensionType& entry : table) {
    if (MatchesExtension(name, entry.extension)) type = entry.mime_type;
  }
  return type;
}

}  // namespace

const char* CollectedImageMimeType(const std::string& name) {
  return MimeTypeOf(name, kImageTypes);
}

const char* CollectedTextMimeType(const std::string& name) {
  return MimeTypeOf(name, kTextTypes);
}

namespace {

void AddEntry(Json::Value& image_files, Json::Value& text_files,
              const std::string& key, const std::string& filename,
              const std::string& full_filename,
              const std::optional<std::string>& tag,
              platform::CodePage code_page, Base64Splice* splice) {
  if (const char* mime_type = CollectedImageMimeType(filename)) {
    Json::Value entry(Json::objectValue);
    entry["filename"] = filename;
    entry["full_filename"] = full_filename;
    if (!splice) {
      entry["base64"] = EncodeFileEntry(filename, true);
    } else if (const auto path = ResolveExportName(filename)) {
      entry["base64"] = splice->StandInFile(*path);
    } else {
      entry["base64"] = "";
    }
    if (tag) entry["tag"] = *tag;
    entry["mime_type"] = mime_type;
    image_files[key] = std::move(entry);
    return;
  }
  if (const char* mime_type = CollectedTextMimeType(filename)) {
    Json::Value entry(Json::objectValue);
    entry["filename"] = filename;
    std::string text = ReadTextFileEntry(filename, code_page, true);
    if (splice) splice->ChargeText(text);
    entry["text"] = std::move(text);
    entry["full_filename"] = full_filename;
    entry["mime_type"] = mime_type;
    text_files[key] = std::move(entry);
  }
}

}  // namespace

void AddCollectedFile(Json::Value& image_files, Json::Value& text_files,
                      const std::string& key, const std::string& filename,
                      const std::string& full_filename,
                      const std::optional<std::string>& tag,
                      platform::CodePage code_page) {
  AddEntry(image_files, text_files, key, filename, full_filename, tag,
           code_page, nullptr);
}

void AddCollectedFile(Json::Value& image_files, Json::Value& text_files,
                      const std::string& key, const std::string& filename,
                      const std::string& full_filename,
                      const std::optional<std::string>& tag,
                      platform::CodePage code_page, Base64Splice& splice) {
  AddEntry(image_files, text_files, key, filename, full_filename, tag,
           code_page, &splice);
}
