// The "HTML Format" description form, built from a text/html target.
//
// Windows keeps clipboard HTML as a description: header lines with byte
// offsets of the document and of the fragment, then the document, whose
// fragment is enclosed in <!--StartFragment--> and <!--EndFragment-->. X11
// owners offer plain text/html instead: a bare fragment, or a whole document
// with or without those markers, in UTF-8 or in UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// text/html as UTF-8: UTF-16 (with a byte-order mark, or without one when the
// data plainly is UTF-16) is converted, a UTF-8 byte-order mark dropped, and
// the text ends at its first NUL.
std::string DecodeTextHtml(std::string_view text_html);

// True when `data` already is a description (it starts with "Version:").
bool IsHtmlFormatDescription(std::string_view data);

// The description of `text_html`. A whole document keeps its bytes; markers
// are added around its body when it has none. A fragment is wrapped in a
// minimal document. Empty input gives an empty result.
std::string HtmlFormatFromTextHtml(std::string_view text_html);

}  // namespace platform
