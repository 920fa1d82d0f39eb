#include "http/parse.hpp"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <tuple>
#include <utility>

namespace HttpCore {

namespace {

// Adds the fields to `fields`, reusing `line` for every line read.
void add_header_fields(std::istream& stream, HeaderMap& fields, std::size_t max_fields,
                       std::string& line) {
  while (fields.size() <= max_fields && std::getline(stream, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) break;
    std::size_t start = colon + 1;
    while (start + 1 < line.size() && line[start] == ' ') ++start;
    if (start < line.size())
      fields.emplace(std::piecewise_construct, std::forward_as_tuple(line, 0, colon),
                     std::forward_as_tuple(line, start, line.size() - 1 - start));
  }
}

}  // namespace

bool parse_request_head(std::istream& stream, std::string& method, std::string& path,
                        std::string& query, std::string& version, HeaderMap& header,
                        std::size_t max_fields) {
  header.clear();
  // Kept by the thread from one request to the next, so that reading the
  // lines needs no allocation; a line of unusual length is not kept.
  thread_local std::string line;
  struct Trim {
    ~Trim() {
      if (line.capacity() > 1024) std::string().swap(line);
    }
  } trim;
  if (!std::getline(stream, line)) return false;

  const std::size_t method_end = line.find(' ');
  if (method_end == std::string::npos) return false;
  method.assign(line, 0, method_end);

  // The last '?' inside the target that is not the line's final character
  // starts the query; the first space after the method ends the target.
  std::size_t query_start = std::string::npos;
  std::size_t target_end = std::string::npos;
  for (std::size_t i = method_end + 1; i < line.size(); ++i) {
    if (line[i] == ' ') {
      target_end = i;
      break;
    }
    if (line[i] == '?' && i + 1 < line.size()) query_start = i + 1;
  }
  if (target_end == std::string::npos) return false;

  const std::size_t target_start = method_end + 1;
  if (query_start != std::string::npos) {
    path.assign(line, target_start, query_start - 1 - target_start);
    query.assign(line, query_start, target_end - query_start);
  } else {
    path.assign(line, target_start, target_end - target_start);
  }

  const std::size_t slash = line.find('/', target_end + 1);
  if (slash == std::string::npos) return false;
  if (line.compare(target_end + 1, slash - target_end - 1, "HTTP") != 0) return false;

  // The line still carries its CR, the last character.
  const std::size_t version_start = slash + 1;
  if (version_start < line.size())
    version.assign(line, version_start, line.size() - 1 - version_start);
  else
    version.clear();

  // Filled in place: a map kept from an earlier request keeps its buckets.
  add_header_fields(stream, header, max_fields, line);
  return true;
}

HeaderMap parse_header_fields(std::istream& stream, std::size_t max_fields) {
  HeaderMap fields;
  std::string line;
  add_header_fields(stream, fields, max_fields, line);
  return fields;
}

HeaderMap parse_query(const std::string& query) {
  HeaderMap fields;
  if (query.empty()) return fields;

  constexpr std::size_t none = std::string::npos;
  std::size_t name_start = 0;
  std::size_t last_equals = none;
  std::size_t value_start = none;

  auto add = [&](std::size_t pair_end) {
    const std::size_t name_end = last_equals == none ? pair_end : last_equals;
    if (name_end <= name_start) return;
    std::string value;
    if (value_start != none && value_start < pair_end)
      value = percent_decode(query.substr(value_start, pair_end - value_start));
    fields.emplace(query.substr(name_start, name_end - name_start), std::move(value));
  };

  for (std::size_t i = 0; i < query.size(); ++i) {
    if (query[i] == '&') {
      add(i);
      name_start = i + 1;
      last_equals = none;
      value_start = none;
    } else if (query[i] == '=') {
      last_equals = i;
      value_start = i + 1;
    }
  }
  if (name_start < query.size()) add(query.size());
  return fields;
}

std::string percent_decode(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size() / 3 + text.size() % 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const char hex[3] = {text[i + 1], text[i + 2], '\0'};
      decoded += static_cast<char>(std::strtol(hex, nullptr, 16));
      i += 2;
    } else if (c == '+') {
      decoded += ' ';
    } else {
      decoded += c;
    }
  }
  return decoded;
}

bool parse_content_length(const std::string& text, unsigned long long& length) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  length = value;
  return true;
}

bool parse_chunk_size(const std::string& line, unsigned long& length) {
  const char* begin = line.c_str();
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(begin, &end, 16);
  if (end == begin || errno == ERANGE) return false;
  length = value;
  return true;
}

}  // namespace HttpCore
