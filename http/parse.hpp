#pragma once
// Parsers of the request head, query strings and body framing. They work on
// text already bounded by the request buffer and never read past it.

#include <cstddef>
#include <istream>
#include <limits>
#include <string>

#include "http/header_map.hpp"

namespace HttpCore {

constexpr std::size_t kUnlimitedFields = std::numeric_limits<std::size_t>::max();

// Reads the request line and the header fields from the stream. Returns false
// when the request line is malformed. Stops adding fields after max_fields + 1,
// so a caller can tell that the limit was passed (header.size() > max_fields).
bool parse_request_head(std::istream& stream, std::string& method, std::string& path,
                        std::string& query, std::string& version, HeaderMap& header,
                        std::size_t max_fields = kUnlimitedFields);

// Reads "name: value" lines up to the first line without a colon (the blank
// line ending the head). Names are kept untrimmed.
HeaderMap parse_header_fields(std::istream& stream, std::size_t max_fields = kUnlimitedFields);

// Splits a=1&b=2 into fields; values are percent-decoded, names are not.
HeaderMap parse_query(const std::string& query);

// %XX becomes the byte XX, + becomes a space; a % too near the end stays.
std::string percent_decode(const std::string& text);

// Content-Length value as a base-10 unsigned 64-bit number (leading blanks and
// a sign accepted, trailing text ignored). False on no digits or overflow.
bool parse_content_length(const std::string& text, unsigned long long& length);

// Chunk-size line (without its CR LF) as base 16; chunk extensions after the
// digits are ignored. False on no digits or overflow.
bool parse_chunk_size(const std::string& line, unsigned long& length);

}  // namespace HttpCore
