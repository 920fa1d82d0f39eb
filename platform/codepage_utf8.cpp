#include "platform/codepage.hpp"

#include "base/utf.hpp"

namespace platform {

bool CodePageToUtf8(CodePage code_page, std::string_view bytes, std::string& utf8) {
  std::u16string wide;
  if (!MultiByteToWide(code_page, bytes, wide)) {
    utf8.clear();
    return false;
  }
  utf8 = WideToUtf8(wide);
  return true;
}

bool Utf8ToCodePage(CodePage code_page, std::string_view utf8, std::string& bytes) {
  std::u16string wide;
  MultiByteToWide(kCodePageUtf8, utf8, wide);
  if (!WideToMultiByte(code_page, wide, bytes)) {
    bytes.clear();
    return false;
  }
  return true;
}

}  // namespace platform
