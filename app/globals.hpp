// Process-wide state of Docklane that several parts share.
#pragma once

#include <cstddef>

// The font-list text, built at start-up and answered from by the control
// pipe, which refills it when it is empty. Zero-terminated.
constexpr std::size_t kFontListCacheSize = 63335;
extern char g_fontListCache[kFontListCacheSize];

// Id of the clipboard format "HTML Format". The X11 clipboard asks for its
// targets by name, so the id only keeps the start-up step in its place.
extern unsigned g_htmlClipboardFormat;
