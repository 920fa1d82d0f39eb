#pragma once

#include <regex>
#include <string>

namespace HttpCore {

// A route key: a compiled ECMAScript pattern with its source text. Routes are
// searched in the byte order of their source texts. Throws std::regex_error
// for a pattern that does not compile.
class RoutePattern {
 public:
  RoutePattern(const std::string& source);  // NOLINT: routes["^/x$"] reads naturally
  RoutePattern(const char* source);         // NOLINT

  const std::string& source() const noexcept { return source_; }
  const std::regex& regex() const noexcept { return regex_; }
  bool operator<(const RoutePattern& other) const noexcept { return source_ < other.source_; }

 private:
  std::string source_;
  std::regex regex_;
};

}  // namespace HttpCore
