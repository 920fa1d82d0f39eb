// The font list reply: which font families the desktop has installed.
#pragma once

#include <cstddef>
#include <string>

#include "platform/fonts.hpp"

// Families beyond this many are not listed: the enumeration fills a table of
// this size.
constexpr std::size_t kFontFamilyTableSize = 1000;

// The font list reply as JSON text, written with Json::StyledWriter:
// `encoding` "utf-8", `font_count`, `font_list` (family names in enumeration
// order, null when none was added) and `success` true. The empty text when no
// family can be listed. Names keep the collection's order and repeats.
std::string GetFontListJson(const platform::FontCollection& fonts);

// The same for the process-wide collection.
std::string GetFontListJson();
