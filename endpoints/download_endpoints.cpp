#include "endpoints/download_endpoints.hpp"

#include <json/value.h>

#include "base/json_text.hpp"
#include "endpoints/reply_framing.hpp"
#include "export/export_paths.hpp"
#include "export/file_entry.hpp"
#include "export/purge.hpp"
#include "export/text_file_entry.hpp"

namespace {

// A name too long for its buffer is refused rather than cut: a cut name
// could name another file. The reply has the service's own failure shape.
std::string RefusedEntry(const std::string& filename, const char* type, const char* payload_key) {
  Json::Value entry(Json::objectValue);
  entry[payload_key] = "";
  entry["filename"] = filename;
  entry["full_filename"] = SupportFolderPrefix() + filename;
  entry["success"] = false;
  entry["type"] = type;
  return StyledJson(entry);
}

}  // namespace

std::string DownloadTextReply(const RequestTree& params) {
  std::string codepage_text = ReadParam(params, "html_codepage");
  // Cut like the 256-byte buffer would; only the leading digits count.
  if (codepage_text.size() > kMaxDownloadParamBytes) codepage_text.resize(kMaxDownloadParamBytes);
  const int code_page = AtoiLike(codepage_text);

  const std::string filename = ReadParam(params, "filename");
  if (filename.size() > kMaxDownloadParamBytes) return RefusedEntry(filename, "text", "text");
  // A negative number is no code page; as an unsigned value it stays unknown
  // to the conversion, which then fails cleanly.
  return ReadTextFileEntry(filename, static_cast<platform::CodePage>(code_page), false);
}

ReplyBody DownloadBase64Reply(const RequestTree& params) {
  const std::string filename = ReadParam(params, "filename");
  if (filename.size() > kMaxDownloadParamBytes) return ReplyBody(RefusedEntry(filename, "base64", "base64"));
  return EncodeFileEntryReply(filename);
}

std::string PurgeExportReply() { return PurgeWordExport(false); }
