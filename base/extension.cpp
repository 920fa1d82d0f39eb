#include "base/extension.hpp"

namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

// Equivalent to searching the ECMAScript expression extension + "$", case
// insensitive, in name; written out so that no regular expression is built
// (and none can fail to compile) for every file of a page.
bool MatchesExtension(std::string_view name, std::string_view extension) {
  if (extension.size() > name.size()) return false;
  const std::string_view tail = name.substr(name.size() - extension.size());
  for (std::size_t i = 0; i < extension.size(); ++i) {
    const char pattern = extension[i];
    const char actual = tail[i];
    if (pattern == '.') {
      if (actual == '\n' || actual == '\r') return false;
    } else if (FoldAscii(pattern) != FoldAscii(actual)) {
      return false;
    }
  }
  return true;
}
