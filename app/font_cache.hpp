// Filling g_fontListCache from the font list reply.
#pragma once

#include <cstddef>
#include <string>

// `text` cut to fit a buffer of `capacity` bytes with its terminator. A font
// list reply that is too long loses whole families from its end (with
// `font_count` following), so that what is kept is still the JSON of a font
// list; any other text is cut at a UTF-8 character boundary.
std::string FitFontListText(const std::string& text, std::size_t capacity);

// Copies FitFontListText(text, kFontListCacheSize) into g_fontListCache.
void StoreFontListCache(const std::string& text);
