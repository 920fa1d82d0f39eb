// Base64 of RFC 4648, section 4: standard alphabet, '=' padding, no line
// breaks. Every picture the editor page receives passes through here, so it
// is written for speed: a 12-bit table turns three input bytes into four
// characters with two look-ups.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// 4 * ceil(length / 3): the length of the encoding of `length` bytes.
std::size_t Base64EncodedLength(std::size_t length);

std::string Base64Encode(const unsigned char* data, std::size_t length);
std::string Base64Encode(std::string_view bytes);

// Encodes into `out`, which must hold Base64EncodedLength(length) chars, and
// returns the number written. A length that is a multiple of 3 gives no
// padding, so input may be encoded piecewise in such pieces.
std::size_t Base64EncodeTo(const unsigned char* data, std::size_t length,
                           char* out);
