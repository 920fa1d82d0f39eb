#include "base/utf.hpp"

#include <cstddef>
#include <stdexcept>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

// The bytes at one position: a character `length` bytes long, or an
// ill-formed sequence whose maximal subpart is `length` bytes long.
struct Sequence {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

// `n` (at least 1) bytes remain at `s`.
Sequence ReadSequence(const unsigned char* s, std::size_t n) {
  const unsigned char lead = s[0];
  if (lead < 0x80) return {lead, 1, true};
  std::size_t trail_count;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the first trail byte
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail_count = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {kReplacement, 1, false};
  }
  std::size_t j = 1;
  for (; j <= trail_count; ++j) {
    if (j >= n || s[j] < low || s[j] > high) return {kReplacement, j, false};
    cp = (cp << 6) | (s[j] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {cp, j, true};
}

// The lead byte at `s` and the continuation bytes after it, up to as many
// as the lead announces.
std::size_t AnnouncedLength(const unsigned char* s, std::size_t n) {
  const unsigned char lead = s[0];
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 1;
  std::size_t k = 1;
  while (k < length && k < n && IsContinuation(s[k])) ++k;
  return k;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (IsSurrogate(c) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);  // a lone surrogate is appended as U+FFFD
  }
  return out;
}

bool DecodeUtf8(std::string_view bytes, std::u16string& out, Utf8Errors errors) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  out.clear();
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    const Sequence sequence = ReadSequence(s + i, n - i);
    if (sequence.valid) {
      AppendUtf16(out, sequence.code_point);
      i += sequence.length;
      continue;
    }
    if (errors == Utf8Errors::kFail) {
      out.clear();
      return false;
    }
    std::size_t skip = sequence.length;  // the maximal subpart
    if (errors == Utf8Errors::kReplaceEachByte) {
      skip = 1;
    } else if (errors == Utf8Errors::kReplaceEachSequence) {
      skip = AnnouncedLength(s + i, n - i);
    }
    i += skip;
    out.push_back(static_cast<char16_t>(kReplacement));
  }
  return true;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string wide;
  if (!DecodeUtf8(text, wide, Utf8Errors::kFail)) throw std::range_error("Utf8ToWide: the text is not valid UTF-8");
  return wide;
}

std::u16string Utf8ToWideLenient(std::string_view text, Utf8Errors errors) {
  std::u16string wide;
  DecodeUtf8(text, wide, errors);
  return wide;
}

void CutUtf8ToFit(std::string& utf8, std::size_t max_bytes) {
  if (utf8.size() <= max_bytes) return;
  std::size_t length = max_bytes;
  while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) --length;
  utf8.resize(length);
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}
