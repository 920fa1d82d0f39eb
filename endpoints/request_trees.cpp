#include "endpoints/request_trees.hpp"

#include <climits>
#include <istream>
#include <streambuf>
#include <stdexcept>

#include <boost/property_tree/json_parser.hpp>

namespace {

using Path = RequestTree::path_type;

// Reads bytes where they lie: a body of hundreds of megabytes is not copied
// into a stream of its own to be parsed.
class ViewBuffer : public std::streambuf {
 public:
  explicit ViewBuffer(std::string_view bytes) {
    char* begin = const_cast<char*>(bytes.data());
    setg(begin, begin, begin + bytes.size());
  }
};

// Bounds what parsing the body could cost: its nesting (the parser and the
// tree recurse) and the number of its values (each a tree node).
void CheckJsonShape(std::string_view body) {
  std::size_t depth = 0;
  std::size_t values = 1;
  bool in_string = false;
  bool escaped = false;
  for (char c : body) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxParamDepth) {
        throw std::invalid_argument("JSON nests more than " + std::to_string(kMaxParamDepth) +
                                    " levels");
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
    if ((c == ',' || c == '[' || c == '{') && ++values > kMaxParamValues) {
      throw std::invalid_argument("JSON holds more than " + std::to_string(kMaxParamValues) + " values");
    }
  }
}

std::string HeaderOr(const HttpCore::HeaderMap& header, const char* name, const char* fallback) {
  auto it = header.find(name);
  return it == header.end() ? std::string(fallback) : it->second;
}

}  // namespace

RequestTree ParamsFromQuery(const HttpCore::HeaderMap& query_fields) {
  RequestTree params;
  for (const auto& pair : query_fields) {
    std::size_t dots = 0;
    for (char c : pair.first) dots += (c == '.');
    if (dots >= kMaxParamDepth) {
      throw std::invalid_argument("query key nests more than " + std::to_string(kMaxParamDepth) +
                                  " levels");
    }
    params.put(Path(pair.first, '.'), pair.second);
  }
  return params;
}

RequestTree ParamsFromJson(std::string_view body) {
  CheckJsonShape(body);
  RequestTree params;
  ViewBuffer view(body);
  std::istream in(&view);
  boost::property_tree::read_json(in, params);
  return params;
}

std::string AllowedOrigin(const HttpCore::ServerBase::Request& request) {
  auto origin = request.header.find("Origin");
  if (origin == request.header.end()) origin = request.header.find("Referer");
  return origin == request.header.end() ? std::string("null") : origin->second;
}

RequestTree BuildRequestFields(const HttpCore::ServerBase::Request& request) {
  RequestTree fields;
  // Keys hold no ".", so each is one child, kept in this order.
  fields.put("http_method", request.method);
  fields.put("http_uri", request.path);
  fields.put("http_query_string", request.query);
  fields.put("http_remote_addr", request.remote_address());
  fields.put("http_remote_port", std::to_string(request.remote_port()));

  fields.put("http_origin", AllowedOrigin(request));
  fields.put("http_user_agent", HeaderOr(request.header, "User-Agent", "null"));

  auto length = request.header.find("Content-Length");
  fields.put("http_content_length",
             std::to_string(length == request.header.end() ? 0 : AtoiLike(length->second)));
  return fields;
}

std::string ReadParam(const RequestTree& tree, const std::string& key) {
  auto child = tree.get_child_optional(Path(key, '\0'));
  return child ? child->data() : std::string();
}

int AtoiLike(const std::string& text) {
  std::size_t i = 0;
  // isspace in the C locale: blank, \t \n \v \f \r.
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) return value > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}
