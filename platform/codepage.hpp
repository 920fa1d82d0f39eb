// Conversions between Windows code pages and UTF-16.
//
// Pages and file lists written by the document engine, and pages the editor
// sends back, are held in a Windows code page ("ANSI", DBCS or UTF-8); the
// rest of the program works in UTF-16 and UTF-8. Code pages are named by
// their Windows identifiers (437, 949, 1252, 65001, ...) so that a Windows
// backend can pass them straight to MultiByteToWideChar/WideCharToMultiByte.
// The backend for POSIX systems is posix/codepage.cpp (iconv) together with
// posix/codepage_system.cpp (the system code page from the locale).
//
// Behaviour every backend keeps, because callers rely on it:
//  - decoding never fails on bad input unless asked to: an invalid or
//    incomplete byte sequence becomes U+FFFD;
//  - encoding replaces a character the code page cannot represent by '?'
//    (UTF-8 replaces a lone surrogate by U+FFFD instead);
//  - an unknown code page fails cleanly: false and an empty result.
// All functions are safe to call from several threads at once.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A Windows code page identifier.
using CodePage = unsigned int;

// The system ANSI code page (CP_ACP): resolved by SystemCodePage().
inline constexpr CodePage kCodePageAnsi = 0;
inline constexpr CodePage kCodePageUtf8 = 65001;

// What a decoder does with bytes that are not valid in the code page.
enum class InvalidInput {
  kReplace,  // each invalid sequence becomes U+FFFD
  kFail,     // the conversion fails (MB_ERR_INVALID_CHARS)
};

// The system ANSI code page (GetACP). On POSIX systems it follows the
// character set of the locale that LC_ALL, LC_CTYPE and LANG select; a
// character set without a Windows counterpart, an unusable locale and the
// C/POSIX locale give 1252.
CodePage SystemCodePage();

// `code_page` with 0 taken as the system code page.
inline CodePage ResolvedCodePage(CodePage code_page) {
  return code_page == kCodePageAnsi ? SystemCodePage() : code_page;
}

// True when conversions with `code_page` are available. 0 counts as the
// system code page.
bool IsKnownCodePage(CodePage code_page);

// Decodes `bytes` in `code_page` (0: the system code page) into UTF-16.
// Returns false, with `out` empty, for an unknown code page, or for invalid
// input when `invalid` is kFail.
bool MultiByteToWide(CodePage code_page, std::string_view bytes,
                     std::u16string& out,
                     InvalidInput invalid = InvalidInput::kReplace);

// Encodes UTF-16 `text` in `code_page` (0: the system code page).
// Returns false, with `out` empty, for an unknown code page.
bool WideToMultiByte(CodePage code_page, std::u16string_view text,
                     std::string& out);

// Text in `code_page` (0: the system code page) to UTF-8, through UTF-16.
// Invalid input becomes U+FFFD. False, with `utf8` empty, for an unknown
// code page.
bool CodePageToUtf8(CodePage code_page, std::string_view bytes, std::string& utf8);

// UTF-8 to `code_page`; invalid UTF-8 becomes U+FFFD first, characters the
// code page lacks become '?'. False, with `bytes` empty, for an unknown code
// page.
bool Utf8ToCodePage(CodePage code_page, std::string_view utf8, std::string& bytes);

}  // namespace platform
