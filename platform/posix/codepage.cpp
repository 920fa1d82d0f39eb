// Code page conversions over glibc iconv, with UTF-8 done here directly:
// it is by far the most frequent code page and iconv's treatment of bad
// UTF-8 (one replacement per byte) differs from what Windows does.
#include "platform/codepage.hpp"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace platform {
namespace {

struct CodePageName {
  CodePage id;
  const char* iconv_name;
};

// Only ASCII-compatible, stateless encodings: the replacement '?' is then
// the byte 0x3F and may be inserted anywhere in the output.
constexpr CodePageName kCodePages[] = {
    {437, "IBM437"},          {737, "CP737"},           {775, "IBM775"},
    {850, "IBM850"},          {852, "IBM852"},          {855, "IBM855"},
    {857, "IBM857"},          {858, "IBM858"},          {860, "IBM860"},
    {861, "IBM861"},          {862, "IBM862"},          {863, "IBM863"},
    {864, "IBM864"},          {865, "IBM865"},          {866, "IBM866"},
    {869, "IBM869"},          {874, "WINDOWS-874"},     {932, "CP932"},
    {936, "CP936"},           {949, "CP949"},           {950, "CP950"},
    {1250, "CP1250"},         {1251, "CP1251"},         {1252, "CP1252"},
    {1253, "CP1253"},         {1254, "CP1254"},         {1255, "CP1255"},
    {1256, "CP1256"},         {1257, "CP1257"},         {1258, "CP1258"},
    {1361, "JOHAB"},          {10000, "MACINTOSH"},     {10007, "MAC-CYRILLIC"},
    {20127, "ANSI_X3.4-1968"}, {20866, "KOI8-R"},       {20932, "EUC-JP"},
    {20936, "GB2312"},        {21866, "KOI8-U"},        {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},    {28593, "ISO-8859-3"},    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},    {28596, "ISO-8859-6"},    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},    {28599, "ISO-8859-9"},    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},   {38598, "ISO-8859-8"},    {51932, "EUC-JP"},
    {51936, "GB2312"},        {51949, "EUC-KR"},        {54936, "GB18030"},
};

const char* IconvName(CodePage code_page) {
  for (const CodePageName& entry : kCodePages) {
    if (entry.id == code_page) return entry.iconv_name;
  }
  return nullptr;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr char kNativeUtf16[] = "UTF-16BE";
#else
constexpr char kNativeUtf16[] = "UTF-16LE";
#endif

constexpr char16_t kReplacement = 0xFFFD;

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

CodePage Resolve(CodePage code_page) {
  return code_page == kCodePageAnsi ? SystemCodePage() : code_page;
}

// Windows fills the holes of its 125x tables with the C1 control of the
// same value; glibc leaves them undefined.
char16_t UndefinedByte(CodePage code_page, unsigned char byte) {
  if (code_page >= 1250 && code_page <= 1258 && byte >= 0x80 && byte <= 0x9F) {
    return static_cast<char16_t>(byte);
  }
  return kReplacement;
}

// --- UTF-8 -----------------------------------------------------------------

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

// Invalid input is replaced per maximal subpart (Unicode 3.9, the practice
// of Windows and of browsers): a truncated sequence gives one U+FFFD, a
// stray byte one U+FFFD.
bool DecodeUtf8(std::string_view bytes, std::u16string& out,
                InvalidInput invalid) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  out.clear();
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = s[i];
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    int trail_count;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the first trail byte
    std::uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail_count = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail_count = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;        // no overlong forms
      if (lead == 0xED) high = 0x9F;       // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail_count = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;        // no overlong forms
      if (lead == 0xF4) high = 0x8F;       // nothing above U+10FFFF
    } else {
      if (invalid == InvalidInput::kFail) return false;
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 0; k < trail_count; ++k, ++j) {
      if (j >= n || s[j] < low || s[j] > high) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (!complete) {
      if (invalid == InvalidInput::kFail) return false;
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    AppendCodePoint(out, cp);
    i = j;
  }
  return true;
}

void EncodeUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() + text.size() / 2);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;  // a lone surrogate has no UTF-8 form
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

// --- iconv -----------------------------------------------------------------

bool DecodeWithIconv(CodePage code_page, const char* name,
                     std::string_view bytes, std::u16string& out,
                     InvalidInput invalid) {
  IconvHandle cd(kNativeUtf16, name);
  if (!cd.ok()) return false;

  // One unit per input byte is enough for every table entry except the
  // rare composing ones; the loop grows the buffer when it is not.
  std::u16string result(bytes.size() + 16, u'\0');
  std::size_t used = 0;
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  bool flushing = false;
  for (;;) {
    char* out_ptr = reinterpret_cast<char*>(&result[0] + used);
    std::size_t out_left = (result.size() - used) * sizeof(char16_t);
    const std::size_t rc =
        flushing ? iconv(cd.get(), nullptr, nullptr, &out_ptr, &out_left)
                 : iconv(cd.get(), &in, &in_left, &out_ptr, &out_left);
    used = result.size() - out_left / sizeof(char16_t);
    if (rc != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    if (errno == E2BIG) {
      result.resize(result.size() * 2 + 16);
      continue;
    }
    if (flushing || (errno != EILSEQ && errno != EINVAL)) return false;
    if (invalid == InvalidInput::kFail) return false;
    if (used == result.size()) result.resize(result.size() * 2 + 16);
    result[used++] = UndefinedByte(code_page, static_cast<unsigned char>(*in));
    ++in;
    --in_left;
  }
  result.resize(used);
  out = std::move(result);
  return true;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool EncodeWithIconv(const char* name, std::u16string_view text,
                     std::string& out) {
  IconvHandle cd(name, kNativeUtf16);
  if (!cd.ok()) return false;

  std::string result(text.size() * 2 + 16, '\0');
  std::size_t used = 0;
  const char* const begin = reinterpret_cast<const char*>(text.data());
  char* in = const_cast<char*>(begin);
  std::size_t in_left = text.size() * sizeof(char16_t);
  bool flushing = false;
  for (;;) {
    char* out_ptr = &result[0] + used;
    std::size_t out_left = result.size() - used;
    const std::size_t rc =
        flushing ? iconv(cd.get(), nullptr, nullptr, &out_ptr, &out_left)
                 : iconv(cd.get(), &in, &in_left, &out_ptr, &out_left);
    used = result.size() - out_left;
    if (rc != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    if (errno == E2BIG) {
      result.resize(result.size() * 2 + 16);
      continue;
    }
    if (flushing || (errno != EILSEQ && errno != EINVAL)) return false;
    // An unrepresentable character (or a lone surrogate): one '?' for the
    // whole character, whether it takes one unit or a surrogate pair.
    const std::size_t unit = static_cast<std::size_t>(in - begin) / 2;
    std::size_t skip = 1;
    if (IsHighSurrogate(text[unit]) && unit + 1 < text.size() &&
        IsLowSurrogate(text[unit + 1])) {
      skip = 2;
    }
    if (used == result.size()) result.resize(result.size() * 2 + 16);
    result[used++] = '?';
    const std::size_t skip_bytes = skip * sizeof(char16_t);
    in += skip_bytes;
    in_left -= skip_bytes;
  }
  result.resize(used);
  out = std::move(result);
  return true;
}

}  // namespace

bool IsKnownCodePage(CodePage code_page) {
  const CodePage resolved = Resolve(code_page);
  return resolved == kCodePageUtf8 || IconvName(resolved) != nullptr;
}

bool MultiByteToWide(CodePage code_page, std::string_view bytes,
                     std::u16string& out, InvalidInput invalid) {
  const CodePage resolved = Resolve(code_page);
  bool ok;
  if (resolved == kCodePageUtf8) {
    ok = DecodeUtf8(bytes, out, invalid);
  } else {
    const char* name = IconvName(resolved);
    ok = name != nullptr &&
         DecodeWithIconv(resolved, name, bytes, out, invalid);
  }
  if (!ok) out.clear();
  return ok;
}

bool WideToMultiByte(CodePage code_page, std::u16string_view text,
                     std::string& out) {
  const CodePage resolved = Resolve(code_page);
  if (resolved == kCodePageUtf8) {
    EncodeUtf8(text, out);
    return true;
  }
  const char* name = IconvName(resolved);
  if (name == nullptr || !EncodeWithIconv(name, text, out)) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace platform
