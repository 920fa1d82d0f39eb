// A page the person at the desktop edits in the word processor: read in the
// code page it was written in, and saved back in that code page with Word's
// web-page layout (pictures in <stem>.files/ with a filelist.xml).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/codepage.hpp"

namespace platform::libreoffice {

// `bytes` of a page in `codePage` (0: the system code page) as the office
// reads it: UTF-8, every character-set declaration saying so. Bytes that are
// not valid in the code page become U+FFFD, as they would in Word.
std::string PageForEditing(std::string_view bytes, CodePage codePage);

// After the office has saved `page` in UTF-8 with the pictures it embeds
// written beside it as "<stem>_html_<id>.<ext>": moves them into the support
// folder (pictures the page links stay with it too), writes filelist.xml,
// and turns the page into `codePage`, declared as such. A character the code
// page lacks becomes a numeric character reference, so nothing is lost.
// Raises std::runtime_error when the page cannot be rewritten.
void FinishSavedPage(const std::filesystem::path& page, CodePage codePage);

// `html` with the value of every charset= in a <meta> element replaced by
// `charset`.
std::string DeclareCharset(const std::string& html, const std::string& charset);

// UTF-8 `utf8` in `codePage`; characters the code page lacks become "&#N;".
// Empty for a code page that is not known.
std::string EncodeWithReferences(std::string_view utf8, CodePage codePage);

// The name a page declares for `codePage` ("utf-8", "ks_c_5601-1987",
// "windows-1252", ...), as Word writes it.
std::string CharsetName(CodePage codePage);

}  // namespace platform::libreoffice
