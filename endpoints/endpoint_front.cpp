#include "endpoints/endpoint_front.hpp"

#include <cstring>
#include <exception>
#include <string>

#include "endpoints/automation_failure.hpp"
#include "endpoints/endpoint_table.hpp"
#include "endpoints/reply_framing.hpp"
#include "endpoints/request_trees.hpp"
#include "export/reply_body.hpp"
#include "http/body_source.hpp"
#include "http/header_map.hpp"
#include "http/status_phrase.hpp"
#include "platform/automation.hpp"

namespace {

enum class ParamSource { kQuery, kJsonBody };

// A laid-out body as the HTTP core asks for it, a piece at a time: its
// files are read and encoded only as the socket takes what came before.
class LaidOutBody : public HttpCore::BodySource {
 public:
  explicit LaidOutBody(ReplyBody body) : body_(std::move(body)), reader_(body_) {}
  std::uint64_t size() const override { return body_.size(); }
  boost::asio::const_buffer next(boost::system::error_code& ec) override {
    std::string_view piece;
    if (reader_.Next(piece) == ReplyBody::Reader::Status::kPiece) return boost::asio::buffer(piece);
    // A file that changed, or fewer bytes than laid out: the reply cannot
    // be finished as its length says.
    ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
    return {};
  }

 private:
  ReplyBody body_;
  ReplyBody::Reader reader_;
};

// Takes the body over: a plain text of many megabytes leaves in the reply's
// one write without being copied into the stream buffer; a body with files
// is sent piece by piece, and so is one that keeps its share of the reply
// text budget, which it gives back only once it has been sent.
void WriteReply(HttpCore::ServerBase::Response& response, const std::string& header, ReplyBody& body) {
  response << "HTTP/1.1 200 OK\r\n" << header << "\r\n";
  if (body.has_inserts() || body.holds_budget()) {
    response.append_source(std::make_unique<LaidOutBody>(std::move(body)));
  } else {
    response.append_body(body.TakeText());
  }
}

// A failure that is not a standard exception (the office automation layer
// raises its own type) must not take the server thread down with it: the
// page gets a JSON failure it can show, framed like every other reply.
void WriteUnexpectedFailure(HttpCore::ServerBase::Response& response, const RequestTree& fields,
                            const std::string& message) {
  ReplyBody body(FailureJson(message));
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
                                                         : ParamsFromJson(request->content.view());
      fields = BuildRequestFields(*request);
      std::string header;
      ReplyBody body;
      HandleEndpointRequest(std::move(params), fields, header, body);
      WriteReply(*response, header, body);
    } catch (const std::exception& e) {
      response->write_status(400, "Could not open path " + request->path + ": " + e.what());
    }
  } catch (const Automation::AutomationException& e) {
    // The conversion has quit its application; the dialog that held it must
    // not be reused by the next request.
    DiscardMainDialog();
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
      asks != request->header.end() && HttpCore::case_insensitive_equals(asks->second, "true");
  // A 204 carries no Content-Length and no body.
  *response << "HTTP/1.1 " << HttpCore::status_phrase(204) << "\r\n"
            << PreflightHeader(AllowedOrigin(*request), private_network) << "\r\n";
}
