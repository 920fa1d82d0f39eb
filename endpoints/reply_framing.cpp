#include "endpoints/reply_framing.hpp"

#include <cstring>
#include <string>

#include <json/writer.h>

#include "base/json_text.hpp"

#define DL_CORS_ALLOW_HEADERS                                                           \
  "Access-Control-Allow-Headers: Origin,Accept,X-Requested-With,Content-Type,Access-" \
  "Control-Request-Method,Access-Control-Request-Headers,Authorization\r\n"

const char kDefaultReplyBody[] = "\r\n<h1>Hello, %s!</h1>\r\n";
const char kJsonContentType[] = "application/json; charset=utf-8";
const char kHtmlContentType[] = "text/html; charset=utf-8";

namespace {

const char kTemplateA[] =
    "Content-Length: %d\r\n"
    "Content-Type: %s\r\n"
    "Access-Control-Allow-Credentials: true\r\n"
    "Access-Control-Allow-Origin: %s\r\n" DL_CORS_ALLOW_HEADERS
    "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\n"
    "Connection: close\r\n";

// B and C have no blank after "Content-Type:"; B names the allowed headers
// before the allowed origin.
const char kTemplateB[] =
    "Content-Length: %d\r\n"
    "Content-Type:%s\r\n"
    "Access-Control-Allow-Credentials: true\r\n" DL_CORS_ALLOW_HEADERS
    "Access-Control-Allow-Origin: %s\r\n"
    "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\n"
    "Connection: close\r\n";

const char kTemplateC[] =
    "Content-Length: %d\r\n"
    "Content-Type:%s\r\n"
    "Access-Control-Allow-Credentials: true\r\n"
    "Access-Control-Allow-Origin: %s\r\n" DL_CORS_ALLOW_HEADERS
    "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\n"
    "Connection: close\r\n";

std::string HeaderSafe(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\0') break;
    if (c == '\r' || c == '\n') continue;
    out.push_back(c);
  }
  return out;
}

}  // namespace

const char* HeaderTemplateText(ReplyTemplate which) {
  switch (which) {
    case ReplyTemplate::kB:
      return kTemplateB;
    case ReplyTemplate::kC:
      return kTemplateC;
    case ReplyTemplate::kA:
      break;
  }
  return kTemplateA;
}

const char* ContentTypeFor(const std::string& user_agent) {
  return user_agent.compare(0, 8, "MSIE 8.0") == 0 ? kJsonContentType : kHtmlContentType;
}

std::string FillHeaderTemplate(ReplyTemplate which, std::size_t body_length,
                               const std::string& content_type, const std::string& origin) {
  const char* text = HeaderTemplateText(which);
  const std::string strings[2] = {HeaderSafe(content_type), HeaderSafe(origin)};
  std::size_t next_string = 0;
  std::string out;
  out.reserve(std::strlen(text) + 24 + strings[0].size() + strings[1].size());
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(body_length);
      ++p;
    } else if (p[0] == '%' && p[1] == 's' && next_string < 2) {
      out += strings[next_string++];
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

std::string PreflightHeader(const std::string& origin, bool allow_private_network) {
  std::string header =
      "Access-Control-Allow-Credentials: true\r\n"
      "Access-Control-Allow-Origin: " + HeaderSafe(origin) + "\r\n" DL_CORS_ALLOW_HEADERS
      "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\n"
      "Access-Control-Max-Age: " + std::to_string(kPreflightMaxAgeSeconds) + "\r\n";
  if (allow_private_network) header += "Access-Control-Allow-Private-Network: true\r\n";
  return header;
}

void CutAtFirstNul(std::string& body) {
  const std::string::size_type nul = body.find('\0');
  if (nul != std::string::npos) body.resize(nul);
}

std::string FailureJson(const std::string& message) {
  Json::Value reply(Json::objectValue);
  reply["message"] = message;
  reply["success"] = false;
  return StyledJson(reply);
}
