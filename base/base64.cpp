#include "base/base64.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define DL_BASE64_SSSE3 1
#endif

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// For every 12-bit value the two characters that encode it.
struct PairTable {
  char pairs[4096][2];
};

constexpr PairTable MakePairTable() {
  PairTable table{};
  for (int v = 0; v < 4096; ++v) {
    table.pairs[v][0] = kAlphabet[v >> 6];
    table.pairs[v][1] = kAlphabet[v & 63];
  }
  return table;
}

constexpr PairTable kPairs = MakePairTable();

inline void PutGroup(std::uint32_t group, char* out) {
  std::memcpy(out, kPairs.pairs[group >> 12], 2);
  std::memcpy(out + 2, kPairs.pairs[group & 0xFFF], 2);
}

inline std::uint64_t LoadBigEndian64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

#ifdef DL_BASE64_SSSE3
// Twelve bytes to sixteen characters per step with SSSE3 (the technique of
// W. Mula and D. Lemire): spread the bytes so that each 32-bit lane holds
// one group, cut the four 6-bit fields out with two multiplies, then map
// each field to its character by adding a per-range offset. Each load reads
// 16 bytes of which 12 are used; returns how many input bytes it consumed.
__attribute__((target("ssse3"))) std::size_t EncodeSsse3(
    const unsigned char* data, std::size_t length, char* out) {
  const __m128i spread =
      _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m128i mask_hi = _mm_set1_epi32(0x0fc0fc00);
  const __m128i mul_hi = _mm_set1_epi32(0x04000040);
  const __m128i mask_lo = _mm_set1_epi32(0x003f03f0);
  const __m128i mul_lo = _mm_set1_epi32(0x01000010);
  const __m128i offsets = _mm_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  std::size_t i = 0;
  for (; length - i >= 16; i += 12, out += 16) {
    __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    in = _mm_shuffle_epi8(in, spread);
    const __m128i hi = _mm_mulhi_epu16(_mm_and_si128(in, mask_hi), mul_hi);
    const __m128i lo = _mm_mullo_epi16(_mm_and_si128(in, mask_lo), mul_lo);
    const __m128i fields = _mm_or_si128(hi, lo);
    // 0..25 -> 13 ('A'), 26..51 -> 0 ('a'), 52..61 -> 1..10 ('0'),
    // 62 -> 11 ('+'), 63 -> 12 ('/').
    __m128i range = _mm_subs_epu8(fields, _mm_set1_epi8(51));
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), fields);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    const __m128i chars =
        _mm_add_epi8(_mm_shuffle_epi8(offsets, range), fields);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
  }
  return i;
}

bool HaveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}
#endif

}  // namespace

std::size_t Base64EncodedLength(std::size_t length) {
  return (length / 3 + (length % 3 != 0 ? 1 : 0)) * 4;
}

std::size_t Base64EncodeTo(const unsigned char* data, std::size_t length,
                           char* out) {
  char* const start = out;
  std::size_t i = 0;
#ifdef DL_BASE64_SSSE3
  if (HaveSsse3()) {
    i = EncodeSsse3(data, length, out);
    out += i / 3 * 4;
  }
#endif
  // Two groups (six bytes) per 8-byte load; the load reads two bytes past
  // the groups, hence the margin.
  while (length - i >= 8 + 6) {
    const std::uint64_t a = LoadBigEndian64(data + i);
    const std::uint64_t b = LoadBigEndian64(data + i + 6);
    PutGroup(static_cast<std::uint32_t>(a >> 40), out);
    PutGroup(static_cast<std::uint32_t>(a >> 16) & 0xFFFFFF, out + 4);
    PutGroup(static_cast<std::uint32_t>(b >> 40), out + 8);
    PutGroup(static_cast<std::uint32_t>(b >> 16) & 0xFFFFFF, out + 12);
    i += 12;
    out += 16;
  }
  for (; length - i >= 3; i += 3, out += 4) {
    PutGroup((std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) |
                 data[i + 2],
             out);
  }
  const std::size_t rest = length - i;
  if (rest != 0) {
    const std::uint32_t b0 = data[i];
    const std::uint32_t b1 = rest == 2 ? data[i + 1] : 0;
    out[0] = kAlphabet[b0 >> 2];
    out[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out[2] = rest == 2 ? kAlphabet[(b1 & 15) << 2] : '=';
    out[3] = '=';
    out += 4;
  }
  return static_cast<std::size_t>(out - start);
}

std::string Base64Encode(const unsigned char* data, std::size_t length) {
  std::string text(Base64EncodedLength(length), '\0');
  if (length != 0) Base64EncodeTo(data, length, &text[0]);
  return text;
}

std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size());
}
