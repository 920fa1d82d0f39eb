// The code-page conversions that pages, file lists, text files and the
// clipboard go through, on any bytes and any code page, and the size the
// budget counts for a text against what the writer writes for it.
//
// Input: two bytes choose the code page (an index into the known ones, or
// a number of its own), the rest is the text.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <json/json.h>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "export/text_file_entry.hpp"
#include "fuzz/fuzz_support.hpp"
#include "platform/codepage.hpp"
#include "platform/codepage.hpp"

namespace {

const platform::CodePage kCodePages[] = {
    0,     437,   737,   775,   850,   852,   855,   857,   858,   860,   861,   862,   863,   864,   865,
    866,   869,   874,   932,   936,   949,   950,   1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,
    1258,  1361,  10000, 10007, 20127, 20866, 20932, 20936, 21866, 28591, 28592, 28593, 28594, 28595,
    28596, 28597, 28598, 28599, 28603, 28605, 38598, 51932, 51936, 51949, 54936, 65001, 1200,  12000};

bool IsUtf8(std::string_view text) {
  try {
    Utf8ToWide(text);
    return true;
  } catch (const std::range_error&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned pick = data[0] | (unsigned{data[1]} << 8);
  constexpr unsigned kCount = sizeof kCodePages / sizeof kCodePages[0];
  const platform::CodePage code_page = pick < 0x8000 ? kCodePages[pick % kCount] : pick;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::u16string wide;
  const bool known = platform::MultiByteToWide(code_page, bytes, wide);
  FUZZ_EXPECT(known == platform::IsKnownCodePage(code_page));
  FUZZ_EXPECT(known || wide.empty());
  std::string encoded;
  FUZZ_EXPECT(platform::WideToMultiByte(code_page, wide, encoded) == known);

  // Decoding never fails on bad input; what it gives is UTF-8.
  std::string utf8;
  FUZZ_EXPECT(platform::CodePageToUtf8(code_page, bytes, utf8) == known);
  FUZZ_EXPECT(IsUtf8(utf8));
  std::string back;
  FUZZ_EXPECT(platform::Utf8ToCodePage(code_page, utf8, back) == known);

  // Valid UTF-8 survives the way through UTF-16 unchanged.
  if (IsUtf8(bytes)) FUZZ_EXPECT(WideToUtf8(Utf8ToWide(bytes)) == bytes);

  // The same bytes as UTF-16 units, as a clipboard's text arrives.
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  const std::string from_units = WideToUtf8(units);
  FUZZ_EXPECT(IsUtf8(from_units));
  platform::WideToMultiByte(code_page, units, encoded);

  std::string text;
  if (DecodeExportedText(std::string(bytes), code_page, text)) FUZZ_EXPECT(IsUtf8(text));

  // A cut text ends in a whole character.
  std::string cut = utf8;
  CutUtf8ToFit(cut, bytes.size() / 2);
  FUZZ_EXPECT(cut.size() <= bytes.size() / 2 || cut.size() == utf8.size());
  FUZZ_EXPECT(IsUtf8(cut));

  // What the budget counts is what the writer writes, for any bytes.
  FUZZ_EXPECT(StyledJsonStringSize(bytes) == StyledJson(Json::Value(std::string(bytes))).size() - 1);
  return 0;
}
