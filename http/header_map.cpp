#include "http/header_map.hpp"

#include <cctype>
#include <functional>

namespace HttpCore {

bool case_insensitive_equals(const std::string& a, const std::string& b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::size_t CaseInsensitiveHash::operator()(const std::string& name) const noexcept {
  std::hash<int> hash;
  std::size_t h = 0;
  for (unsigned char c : name) h ^= hash(std::tolower(c)) + 0x9e3779b9 + (h << 6) + (h >> 2);
  return h;
}

}  // namespace HttpCore
