// Conversions between UTF-16, UTF-8 and the Windows code pages, shared by the
// export folder, the clipboard reader and the endpoint front. Code page text
// always goes through UTF-16, so each code page needs only its own decoder
// and encoder.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/codepage.hpp"

// UTF-16 to UTF-8. A surrogate pair becomes one four-byte sequence; a lone
// surrogate, which has no UTF-8 form, becomes U+FFFD (EF BF BD).
std::string WideToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. Throws std::range_error when `text` is not UTF-8: stray or
// missing continuation bytes, overlong forms, encoded surrogates, values
// above U+10FFFF. Characters outside the BMP become surrogate pairs.
std::u16string Utf8ToWide(std::string_view text);

// Text in `code_page` (0: the system code page) to UTF-8, through UTF-16.
// Invalid input becomes U+FFFD. False, with `utf8` empty, for an unknown
// code page.
bool CodePageToUtf8(platform::CodePage code_page, std::string_view bytes,
                    std::string& utf8);

// UTF-8 to `code_page`; invalid UTF-8 becomes U+FFFD first, characters the
// code page lacks become '?'. False, with `bytes` empty, for an unknown code
// page.
bool Utf8ToCodePage(platform::CodePage code_page, std::string_view utf8,
                    std::string& bytes);

// Cuts `utf8` to at most `max_bytes`, at a character boundary, so that a
// text that outgrew the buffer it is bound to still ends in a whole
// character.
void CutUtf8ToFit(std::string& utf8, std::size_t max_bytes);
