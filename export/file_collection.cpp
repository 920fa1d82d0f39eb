#include "export/file_collection.hpp"

#include <json/json.h>

#include <optional>
#include <string_view>
#include <utility>

#include "base/utf.hpp"
#include "export/base64_splice.hpp"
#include "export/collected_file.hpp"
#include "export/export_paths.hpp"
#include "export/file_checks.hpp"

ReplyBody CollectFilesReply(const std::string& list) {
  Json::Value image_files;  // null until the first entry
  Json::Value text_files;
  const platform::CodePage code_page = platform::SystemCodePage();
  const std::optional<std::string> tag("img");
  // The pictures' Base64 texts bypass the writer, and are read only while
  // the reply is sent.
  Base64Splice splice;

  std::string_view rest(list);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view()
                                           : rest.substr(comma + 1);
    if (item.size() > kMaxExportPathBytes) continue;
    // Throws for an item that is not UTF-8: the whole request is refused.
    // A relative name is looked up in the current directory here, while
    // AddCollectedFile reads it from the support folder; both must agree for
    // the file to be collected.
    if (!FileOrFolderExists(Utf8ToWide(item))) continue;
    const std::string name(item);
    AddCollectedFile(image_files, text_files, name, name, name, tag, code_page,
                     splice);
  }

  Json::Value reply(Json::objectValue);
  reply["encoding"] = "utf-8";
  // Moved, not copied: the text entries hold their files' content.
  reply["image_files"] = std::move(image_files);
  reply["success"] = true;
  reply["text_files"] = std::move(text_files);
  return splice.Lay(reply);
}

std::string CollectFilesJson(const std::string& list) { return ReplyText(CollectFilesReply(list)); }
