// Text files of the export folder, held in a Windows code page, handed to
// the editor page as UTF-8 inside JSON.
#pragma once

#include <string>

#include "platform/codepage.hpp"

// Reads the file `name` and returns its text download entry, or with
// `bareResult` only its UTF-8 text:
//   { "filename", "full_filename", "success", "text", "type": "text" }
// "index.html" and "import.html" name the converted page (ImportHtmlPath);
// other names resolve like EncodeFileEntry's. The bytes up to the first NUL
// are decoded in `code_page` (0: the system code page), invalid sequences
// becoming U+FFFD; a file that starts with a byte-order mark (UTF-8, UTF-16
// LE or BE) is decoded as the mark says instead, without the mark.
// `success` is false, with an empty `text`, when the file cannot be read or
// `code_page` is unknown.
std::string ReadTextFileEntry(const std::string& name,
                              platform::CodePage code_page, bool bareResult);

// The decoding step of ReadTextFileEntry on bytes already read. False, with
// `utf8` empty, for an unknown code page (unless a byte-order mark decides).
bool DecodeExportedText(const std::string& bytes, platform::CodePage code_page,
                        std::string& utf8);
