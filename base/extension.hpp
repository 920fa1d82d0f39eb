// The extension test by which files are sorted into pictures and texts.
#pragma once

#include <string_view>

// True when `name` ends with `extension`, compared as a pattern: ASCII
// letters ignore case and the extension's '.' (like any '.') matches any one
// character other than a line break, so "xpng" ends with ".png". Names are
// compared as bytes; no other character is special.
bool MatchesExtension(std::string_view name, std::string_view extension);
