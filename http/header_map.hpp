#pragma once
// Header and query fields: a multimap whose names compare without regard to
// letter case, so "content-length" finds "Content-Length".

#include <cstddef>
#include <string>
#include <unordered_map>

namespace HttpCore {

// True when both texts have the same length and match after tolower.
bool case_insensitive_equals(const std::string& a, const std::string& b) noexcept;

struct CaseInsensitiveEqual {
  bool operator()(const std::string& a, const std::string& b) const noexcept {
    return case_insensitive_equals(a, b);
  }
};

// Names differing only in letter case land in the same bucket.
struct CaseInsensitiveHash {
  std::size_t operator()(const std::string& name) const noexcept;
};

// Duplicate names are kept.
using HeaderMap = std::unordered_multimap<std::string, std::string, CaseInsensitiveHash,
                                          CaseInsensitiveEqual>;

}  // namespace HttpCore
