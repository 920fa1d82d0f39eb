// Small text and file helpers shared inside the LibreOffice backend.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace platform::libreoffice {

// A page larger than this is no page the office or the editor wrote.
constexpr std::uintmax_t kMaxPageBytes = 256u << 20;

// `s` with ASCII letters lowered, for matching tags and names.
inline std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The bytes of the page file `page`; none when it is missing, larger than
// kMaxPageBytes or cannot be read.
inline std::optional<std::string> ReadPageFile(const std::filesystem::path& page) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(page, ec);
  if (ec || size > kMaxPageBytes) return std::nullopt;
  std::ifstream in(page, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  return bytes;
}

}  // namespace platform::libreoffice
