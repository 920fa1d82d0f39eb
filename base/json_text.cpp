#include "base/json_text.hpp"

std::string StyledJson(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

std::uint64_t StyledJsonStringSize(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  std::uint64_t size = 2;
  while (p < end) {
    const unsigned char c = *p;
    const std::size_t left = static_cast<std::size_t>(end - p);
    if (c < 0x80) {
      if (c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t') {
        size += 2;
      } else {
        size += c < 0x20 ? 6 : 1;
      }
      ++p;
    } else if (c < 0xE0) {
      // Lead bytes, stray continuation bytes included, take the next byte
      // along when there is one; whatever they decode to is one \uXXXX.
      size += 6;
      p += left >= 2 ? 2 : 1;
    } else if (c < 0xF0) {
      size += 6;
      p += left >= 3 ? 3 : 1;
    } else if (c < 0xF8 && left >= 4) {
      const std::uint32_t code = (std::uint32_t{c & 0x07u} << 18) | (std::uint32_t{p[1] & 0x3Fu} << 12) |
                                 (std::uint32_t{p[2] & 0x3Fu} << 6) | (p[3] & 0x3Fu);
      // Beyond the BMP as a surrogate pair; anything smaller is invalid and
      // becomes U+FFFD.
      size += code < 0x10000 ? 6 : 12;
      p += 4;
    } else {
      size += 6;
      ++p;
    }
  }
  return size;
}
