// GCC 12 with the sanitizers reports a false "maybe uninitialized" inside
// std::regex's pattern compiler; it is instantiated only in this file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "http/route_pattern.hpp"

namespace HttpCore {

RoutePattern::RoutePattern(const std::string& source) : source_(source), regex_(source) {}

RoutePattern::RoutePattern(const char* source) : RoutePattern(std::string(source)) {}

}  // namespace HttpCore
