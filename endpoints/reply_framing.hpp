// How the endpoint front frames its replies: the three header templates with
// their CORS fields, the content-type rule and the default text.
#pragma once

#include <cstddef>
#include <string>

#include <json/value.h>

enum class ReplyTemplate {
  kA,  // every reply but those below
  kB,  // the edit endpoints' "Word not found" reply
  kC,  // "/check_msword_alive" and "/close_msword_window"
};

// The reply for a path that matches no endpoint; the "%s" stays as it is.
extern const char kDefaultReplyBody[];  // 23 bytes

extern const char kJsonContentType[];  // "application/json; charset=utf-8"
extern const char kHtmlContentType[];  // "text/html; charset=utf-8"

// The printf-style text of a template: %d body length, %s content type, %s
// allowed origin.
const char* HeaderTemplateText(ReplyTemplate which);

// "application/json; charset=utf-8" when the user agent begins with
// "MSIE 8.0", otherwise "text/html; charset=utf-8".
const char* ContentTypeFor(const std::string& user_agent);

// The header block: the template filled with the body length, the content
// type and the allowed origin. The origin is taken up to its first NUL, like
// a C string, and loses any CR or LF so that it cannot start a header field
// of its own.
std::string FillHeaderTemplate(ReplyTemplate which, std::size_t body_length,
                               const std::string& content_type, const std::string& origin);

// How long a browser may reuse the answer to a preflight; Chromium keeps it
// at most two hours anyway.
constexpr int kPreflightMaxAgeSeconds = 7200;

// The header block of the answer to a CORS preflight (no body follows): the
// CORS fields of template A for `origin` (made header-safe as above),
// Access-Control-Max-Age, and Access-Control-Allow-Private-Network: true
// when `allow_private_network`, which a page on a public origin needs before
// its browser lets it reach this machine.
std::string PreflightHeader(const std::string& origin, bool allow_private_network);

// A body ends at its first NUL byte: what follows would not be counted in
// Content-Length and would corrupt the connection's next reply.
void CutAtFirstNul(std::string& body);

// {"message": message, "success": false} as a JSON reply.
std::string FailureJson(const std::string& message);
