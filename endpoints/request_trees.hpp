// The two property trees the endpoint front builds for every request:
// RequestParams (what the caller asks for) and RequestFields (facts about
// the request).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

#include "http/request.hpp"

using RequestTree = boost::property_tree::ptree;

// Deepest nesting accepted in parameters, from dotted query keys or JSON
// bodies. The trees are built, copied and destroyed recursively, so an
// unbounded depth sent by a caller would exhaust the stack.
constexpr std::size_t kMaxParamDepth = 64;

// Most values (members, elements, nested objects) a JSON body may hold. A
// tree node costs some hundred bytes, a value in the body as little as two,
// so a body within the request limit could otherwise grow into gigabytes.
constexpr std::size_t kMaxParamValues = 100000;

// Query pairs stored by key, "." separating nested keys (a.b=1 makes a child
// a with a child b). A repeated key replaces the earlier value. Throws
// std::invalid_argument for a key nested deeper than kMaxParamDepth.
RequestTree ParamsFromQuery(const HttpCore::HeaderMap& query_fields);

// The body parsed as one JSON document: members become children by name,
// array elements children with empty names, scalars their text. Throws a
// std::exception for an empty or malformed body, or (std::invalid_argument)
// one nested deeper than kMaxParamDepth or holding more than kMaxParamValues
// values. The body is read where it is, not copied.
RequestTree ParamsFromJson(std::string_view body);

// The origin a reply allows: the request's Origin, else its whole Referer,
// else "null".
std::string AllowedOrigin(const HttpCore::ServerBase::Request& request);

// http_method, http_uri, http_query_string, http_remote_addr,
// http_remote_port, http_origin (Origin, else Referer, else "null"),
// http_user_agent ("null" when absent) and http_content_length, in that
// order.
RequestTree BuildRequestFields(const HttpCore::ServerBase::Request& request);

// A parameter as text; missing and empty read alike. `key` is one name,
// never a dotted path.
std::string ReadParam(const RequestTree& tree, const std::string& key);

// The C library's atoi on `text`: leading blanks, an optional sign, then
// leading decimal digits; 0 without digits. Out-of-range values saturate at
// INT_MAX / INT_MIN instead of being undefined.
int AtoiLike(const std::string& text);
