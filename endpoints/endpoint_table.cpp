#include "endpoints/endpoint_table.hpp"

#include <optional>

#include "desktop/clipboard_reader.hpp"
#include "desktop/font_list.hpp"
#include "desktop/version_info.hpp"
#include "endpoints/download_endpoints.hpp"
#include "endpoints/edit_endpoints.hpp"
#include "endpoints/export_phase.hpp"
#include "endpoints/import_endpoint.hpp"
#include "endpoints/reply_framing.hpp"
#include "export/file_collection.hpp"
#include "export/reply_budget.hpp"

void HandleEndpointRequest(RequestTree params, RequestTree fields, std::string& header,
                           ReplyBody& body) {
  const std::string method = fields.get<std::string>("http_method");
  std::string path = fields.get<std::string>("http_uri");
  const std::string origin = fields.get<std::string>("http_origin", "");
  const std::string user_agent = fields.get<std::string>("http_user_agent", "");
  const char* content_type = ContentTypeFor(user_agent);

  if (method == "GET" || method == "POST") {
    const std::string action = ReadParam(params, "action");
    if (path == "/") path += action;
  }

  ReplyTemplate reply_template = ReplyTemplate::kA;
  try {
    // Comparisons in this order; the first match serves the request.
    if (path == "/get_version_info") {
      body = ReplyBody(GetVersionInfoJson());
    } else if (path == "/get_font_list") {
      body = ReplyBody(GetFontListJson());
    } else if (path == "/get_clipboard_text") {
      body = ReadClipboardReply();
    } else if (path == "/get_files") {
      body = CollectFilesReply(ReadParam(params, "file_list"));
    } else if (path == "/import_file_as_html" || path == "/edit_new_html" || path == "/edit_export_html" ||
               path == "/edit_export_purge_html" || path == "/export_as_html") {
      // An import or edit phase that ends the request has its own reply; the
      // others go on into the export phase, like "/export_as_html".
      std::optional<std::string> own_reply;
      if (path == "/import_file_as_html") {
        own_reply = RunImportPhase(params);
      } else if (path != "/export_as_html") {
        if (std::optional<EditReply> reply = RunEditPhase(path, params, fields)) {
          own_reply = std::move(reply->body);
          reply_template = reply->reply_template;
        }
      }
      body = own_reply ? ReplyBody(std::move(*own_reply)) : RunExportPhase(path, params);
    } else if (path == "/check_msword_alive") {
      body = ReplyBody(CheckWordAliveReply());
      reply_template = ReplyTemplate::kC;
    } else if (path == "/close_msword_window") {
      body = ReplyBody(CloseWordWindowReply());
      reply_template = ReplyTemplate::kC;
    } else if (path == "/download_text") {
      // A text file's reply is held until its reader has taken it.
      body = ReplyBody::Held(DownloadTextReply(params));
    } else if (path == "/download_base64") {
      body = DownloadBase64Reply(params);
    } else if (path == "/purge_export") {
      body = ReplyBody(PurgeExportReply());
    } else {
      body = ReplyBody(kDefaultReplyBody);
    }
  } catch (const ReplyBudgetExceeded& e) {
    // Memory is bounded whatever a request asks for: past the budget the
    // page learns why it gets nothing.
    body = ReplyBody(FailureJson(e.what()));
  }

  // Laid-out JSON holds no NUL (the writer escapes it); plain text may.
  if (!body.has_inserts()) body.Truncate(body.text().find('\0'));
  header = FillHeaderTemplate(reply_template, body.size(), content_type, origin);
}
