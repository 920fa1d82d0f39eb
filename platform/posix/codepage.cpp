// Code page conversions over glibc iconv, except UTF-8, which goes through
// platform/utf.hpp: it is by far the most frequent code page and iconv's
// treatment of bad UTF-8 (one replacement per byte) differs from what
// Windows does (one per maximal subpart).
#include "platform/codepage.hpp"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

#include "base/utf.hpp"

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

// Windows fills the holes of its 125x tables with the C1 control of the
// same value; glibc leaves them undefined.
char16_t UndefinedByte(CodePage code_page, unsigned char byte) {
  if (code_page >= 1250 && code_page <= 1258 && byte >= 0x80 && byte <= 0x9F) {
    return static_cast<char16_t>(byte);
  }
  return kReplacement;
}

// --- iconv -----------------------------------------------------------------

// Converts all of [in, in + in_left) with `cd` into `result`, a string of
// code units whose size is the first guess, grown as needed. At each
// sequence the converter rejects, `replace` writes the one unit that stands
// for it, steps `in` and `in_left` past it, and returns false to give up.
template <typename Units, typename Replace>
bool ConvertWithIconv(iconv_t cd, char* in, std::size_t in_left, Units& result, Replace replace) {
  using Unit = typename Units::value_type;
  std::size_t used = 0;
  bool flushing = false;
  for (;;) {
    char* out_ptr = reinterpret_cast<char*>(&result[0] + used);
    std::size_t out_left = (result.size() - used) * sizeof(Unit);
    const std::size_t rc = flushing ? iconv(cd, nullptr, nullptr, &out_ptr, &out_left)
                                    : iconv(cd, &in, &in_left, &out_ptr, &out_left);
    used = result.size() - out_left / sizeof(Unit);
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
    if (used == result.size()) result.resize(result.size() * 2 + 16);
    if (!replace(in, in_left, result[used++])) return false;
  }
  result.resize(used);
  return true;
}

bool DecodeWithIconv(CodePage code_page, const char* name,
                     std::string_view bytes, std::u16string& out,
                     InvalidInput invalid) {
  IconvHandle cd(kNativeUtf16, name);
  if (!cd.ok()) return false;
  // One unit per input byte is enough for every table entry except the
  // rare composing ones; the conversion grows the buffer when it is not.
  std::u16string result(bytes.size() + 16, u'\0');
  const bool done = ConvertWithIconv(
      cd.get(), const_cast<char*>(bytes.data()), bytes.size(), result,
      [&](char*& in, std::size_t& in_left, char16_t& unit) {
        if (invalid == InvalidInput::kFail) return false;
        unit = UndefinedByte(code_page, static_cast<unsigned char>(*in));
        ++in;
        --in_left;
        return true;
      });
  if (!done) return false;
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
  const char* const begin = reinterpret_cast<const char*>(text.data());
  const bool done = ConvertWithIconv(
      cd.get(), const_cast<char*>(begin), text.size() * sizeof(char16_t), result,
      [&](char*& in, std::size_t& in_left, char& unit) {
        // An unrepresentable character (or a lone surrogate): one '?' for
        // the whole character, whether it takes one unit or a surrogate pair.
        const std::size_t at = static_cast<std::size_t>(in - begin) / 2;
        const std::size_t skip =
            IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1]) ? 2 : 1;
        unit = '?';
        in += skip * sizeof(char16_t);
        in_left -= skip * sizeof(char16_t);
        return true;
      });
  if (!done) return false;
  out = std::move(result);
  return true;
}

}  // namespace

bool IsKnownCodePage(CodePage code_page) {
  const CodePage resolved = ResolvedCodePage(code_page);
  return resolved == kCodePageUtf8 || IconvName(resolved) != nullptr;
}

bool MultiByteToWide(CodePage code_page, std::string_view bytes,
                     std::u16string& out, InvalidInput invalid) {
  const CodePage resolved = ResolvedCodePage(code_page);
  bool ok;
  if (resolved == kCodePageUtf8) {
    ok = DecodeUtf8(bytes, out,
                    invalid == InvalidInput::kFail ? Utf8Errors::kFail
                                                   : Utf8Errors::kReplace);
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
  const CodePage resolved = ResolvedCodePage(code_page);
  if (resolved == kCodePageUtf8) {
    out = WideToUtf8(text);
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
