// The one rule by which a file that a page refers to becomes an entry of the
// reply: pictures travel as Base64, texts as UTF-8, anything else not at all.
#pragma once

#include <json/json.h>

#include <optional>
#include <string>

#include "platform/codepage.hpp"

class Base64Splice;

// The MIME type of a picture name (".png", ".jpg", ".jpeg", ".gif", ".bmp",
// ".ico", by MatchesExtension), or nullptr when it is none.
const char* CollectedImageMimeType(const std::string& name);

// The MIME type of a text name (".xml", ".html", ".htm", ".css", ".txt"), or
// nullptr when it is none.
const char* CollectedTextMimeType(const std::string& name);

// Adds at most one entry for `filename`. A picture name gets an image entry
//   { "base64", "filename", "full_filename", "mime_type", ["tag"] }
// in `image_files`, a text name a text entry
//   { "filename", "full_filename", "mime_type", "text" }
// in `text_files` (decoded with `code_page`, 0: the system code page), in
// either case under `key`, replacing an entry with that key. Content is read
// as EncodeFileEntry and ReadTextFileEntry read `filename`; an unreadable
// file gets an empty `base64` or `text` and is still added. The objects stay
// null until their first entry.
void AddCollectedFile(Json::Value& image_files, Json::Value& text_files,
                      const std::string& key, const std::string& filename,
                      const std::string& full_filename,
                      const std::optional<std::string>& tag,
                      platform::CodePage code_page);

// The same, but an image entry's file is handed to `splice`, and the entry
// holds its stand-in: the reply must then be laid out by the splice. A text
// entry's text is charged to the splice first (ReplyBudgetExceeded when it
// does not fit).
void AddCollectedFile(Json::Value& image_files, Json::Value& text_files,
                      const std::string& key, const std::string& filename,
                      const std::string& full_filename,
                      const std::optional<std::string>& tag,
                      platform::CodePage code_page, Base64Splice& splice);
