#include "app/globals.hpp"

char g_fontListCache[kFontListCacheSize];
unsigned g_htmlClipboardFormat = 0;
