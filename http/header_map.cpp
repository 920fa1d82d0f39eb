#include "http/header_map.hpp"

#include <cctype>
#include <cstdint>
#include <functional>

namespace HttpCore {

namespace {

// Every header lookup hashes and compares names, so this runs several times
// per request. glibc's tolower is a call into its table for the thread's
// locale; reading that table once per name gives the same result for the
// price of an index.
struct Lower {
#if defined(__GLIBC__)
  Lower() : table(*__ctype_tolower_loc()) {}
  int operator()(unsigned char c) const noexcept { return table[c]; }
  const std::int32_t* table;
#else
  int operator()(unsigned char c) const noexcept { return std::tolower(c); }
#endif
};

}  // namespace

bool case_insensitive_equals(const std::string& a, const std::string& b) noexcept {
  if (a.size() != b.size()) return false;
  const Lower lower;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && lower(x) != lower(y)) return false;
  }
  return true;
}

std::size_t CaseInsensitiveHash::operator()(const std::string& name) const noexcept {
  const std::hash<int> hash;
  const Lower lower;
  std::size_t h = 0;
  for (unsigned char c : name) h ^= hash(lower(c)) + 0x9e3779b9 + (h << 6) + (h >> 2);
  return h;
}

}  // namespace HttpCore
