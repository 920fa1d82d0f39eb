#include "endpoints/endpoint_front.hpp"

#include <cstring>
#include <exception>
#include <string>

#include <boost/algorithm/string/predicate.hpp>

#include "endpoints/endpoint_table.hpp"
#include "endpoints/reply_framing.hpp"
#include "endpoints/request_trees.hpp"
#include "http/status_phrase.hpp"
#include "office/automation_failure.hpp"
#include "platform/automation.hpp"

namespace {

enum class ParamSource { kQuery, kJsonBody };

// Takes the body's bytes over (the caller's string is left empty): a body of
// many megabytes (collected pictures) leaves in the reply's one write without
// being copied into the stream buffer.
void WriteReply(HttpCore::ServerBase::Response& response, const std::string& header,
                std::string& body) {
  response << "HTTP/1.1 200 OK\r\n" << header << "\r\n";
  response.append_body(std::move(body));
}

// A failure that is not a standard exception (the office automation layer
// raises its own type) must not take the server thread down with it: the
// page gets a JSON failure it can show, framed like every other reply.
void WriteUnexpectedFailure(HttpCore::ServerBase::Response& response, const RequestTree& fields,
                            const std::string& message) {
  std::string body = FailureJson(message);
  const std::string header =
      FillHeaderTemplate(ReplyTemplate::kA, body.size(),
                         ContentTypeFor(fields.get<std::string>("http_user_agent", "")),
                         fields.get<std::string>("http_origin", "null"));
  WriteReply(response, header, body);
}

void Serve(const HttpResponsePtr& response, const HttpRequestPtr& request, ParamSource source) {
  RequestTree fields;
  try {
    try {
      RequestTree params = source == ParamSource::kQuery ? ParamsFromQuery(request->query_fields())
                                                         : ParamsFromJson(request->content.text());
      fields = BuildRequestFields(*request);
      std::string header;
      std::string body;
      HandleEndpointRequest(std::move(params), fields, header, body);
      WriteReply(*response, header, body);
    } catch (const std::exception& e) {
      response->write_status(400, "Could not open path " + request->path + ": " + e.what());
    }
  } catch (const Automation::AutomationException& e) {
    // The conversion has quit its application; the dialog that held it must
    // not be reused by the next request.
    office::DiscardMainDialog();
    WriteUnexpectedFailure(*response, fields,
                           "Office automation failed while serving " + request->path + ": " + e.what());
  } catch (...) {
    WriteUnexpectedFailure(*response, fields,
                           "Unexpected failure while serving " + request->path);
  }
}

}  // namespace

void OnGetRequest(HttpResponsePtr response, HttpRequestPtr request) {
  Serve(response, request, ParamSource::kQuery);
}

void OnPostRequest(HttpResponsePtr response, HttpRequestPtr request) {
  Serve(response, request, ParamSource::kJsonBody);
}

void OnOptionsRequest(HttpResponsePtr response, HttpRequestPtr request) {
  // Chromium asks with this field before a page on a public origin may
  // reach a private or loopback address.
  const auto asks = request->header.find("Access-Control-Request-Private-Network");
  const bool private_network =
      asks != request->header.end() && boost::algorithm::iequals(asks->second, "true");
  // A 204 carries no Content-Length and no body.
  *response << "HTTP/1.1 " << HttpCore::status_phrase(204) << "\r\n"
            << PreflightHeader(AllowedOrigin(*request), private_network) << "\r\n";
}
