#include "export/text_conversion.hpp"

#include <stdexcept>

std::string WideToUtf8(std::u16string_view text) {
  std::string utf8;
  // UTF-8 is always available; the result cannot be false.
  platform::WideToMultiByte(platform::kCodePageUtf8, text, utf8);
  return utf8;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string wide;
  if (!platform::MultiByteToWide(platform::kCodePageUtf8, text, wide,
                                 platform::InvalidInput::kFail)) {
    throw std::range_error("Utf8ToWide: the text is not valid UTF-8");
  }
  return wide;
}

bool CodePageToUtf8(platform::CodePage code_page, std::string_view bytes,
                    std::string& utf8) {
  std::u16string wide;
  if (!platform::MultiByteToWide(code_page, bytes, wide)) {
    utf8.clear();
    return false;
  }
  utf8 = WideToUtf8(wide);
  return true;
}

bool Utf8ToCodePage(platform::CodePage code_page, std::string_view utf8,
                    std::string& bytes) {
  std::u16string wide;
  platform::MultiByteToWide(platform::kCodePageUtf8, utf8, wide);
  if (!platform::WideToMultiByte(code_page, wide, bytes)) {
    bytes.clear();
    return false;
  }
  return true;
}

void CutUtf8ToFit(std::string& utf8, std::size_t max_bytes) {
  if (utf8.size() <= max_bytes) return;
  std::size_t length = max_bytes;
  while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) --length;
  utf8.resize(length);
}
