// Conversions between UTF-8 and UTF-16: the one codec every part of the
// program uses.
//
// Neither direction ever produces ill-formed output: a lone surrogate in
// UTF-16 becomes U+FFFD in UTF-8, and bytes that are not UTF-8 become U+FFFD
// in UTF-16 (or fail the conversion, when the caller asks for that).
// Overlong forms, encoded surrogates and values above U+10FFFF are never
// accepted as characters. Free of OS dependencies and of shared state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>


// What DecodeUtf8 does with bytes that do not form a UTF-8 character. The
// replacing modes differ only in how many U+FFFD one bad stretch gives; no
// mode ever swallows a well-formed character.
enum class Utf8Errors {
  // One U+FFFD per maximal subpart (what Windows and browsers do):
  // "\xE2\x82" gives one, "\xED\xA0\x80" (an encoded surrogate) three.
  kReplace,
  // One U+FFFD per byte that does not start a well-formed character:
  // "\xE2\x82" gives two, "\xED\xA0\x80" three.
  kReplaceEachByte,
  // One U+FFFD for a lead byte together with the continuation bytes it
  // announces: "\xE2\x82" gives one, "\xED\xA0\x80" one.
  kReplaceEachSequence,
  // The conversion fails.
  kFail,
};

// Appends the UTF-8 form of `c`. A value that is no Unicode scalar value
// (a surrogate, or above U+10FFFF) is appended as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// UTF-16 to UTF-8; a surrogate pair becomes one four-byte sequence, a lone
// surrogate becomes U+FFFD (EF BF BD).
std::string WideToUtf8(std::u16string_view text);

// Decodes UTF-8 `bytes` into `out`, replacing what it held. Returns false,
// with `out` empty, only when `errors` is kFail and `bytes` is not UTF-8.
bool DecodeUtf8(std::string_view bytes, std::u16string& out,
                Utf8Errors errors = Utf8Errors::kReplace);

// UTF-8 to UTF-16, where ill-formed input is the caller's error: throws
// std::range_error for bytes that are not UTF-8 (stray or missing
// continuation bytes, overlong forms, encoded surrogates, values above
// U+10FFFF). Characters outside the BMP become surrogate pairs.
std::u16string Utf8ToWide(std::string_view text);

// UTF-8 to UTF-16, replacing what is not UTF-8 as `errors` says.
std::u16string Utf8ToWideLenient(std::string_view text, Utf8Errors errors = Utf8Errors::kReplace);

// ISO 8859-1 bytes (X11's STRING) as UTF-8: each byte is the character of
// its value.
std::string Latin1ToUtf8(std::string_view bytes);

// Cuts `utf8` to at most `max_bytes`, at a character boundary, so that a
// text that outgrew the buffer it is bound to still ends in a whole
// character.
void CutUtf8ToFit(std::string& utf8, std::size_t max_bytes);

