// File entries: a file of the export folder (or one the page names) handed
// to the editor page as Base64 inside JSON.
#pragma once

#include <string>

#include "export/reply_body.hpp"

// Reads the file `name` and returns its Base64 download entry, or with
// `bareResult` only the Base64 text. `name` is UTF-8: an absolute name (see
// IsAbsoluteExportName) is read as it is, any other name from the support
// folder. An unreadable file gives `success` false and an empty `base64`
// (the empty text when bare); so does a name refused by ResolveExportName.
//   { "base64", "filename", "full_filename", "success", "type": "base64" }
// `full_filename` is SupportFolderPrefix() followed by `name`, also for an
// absolute name.
std::string EncodeFileEntry(const std::string& name, bool bareResult);

// The Base64 download entry of `name` laid out, its file read only while it
// is sent.
ReplyBody EncodeFileEntryReply(const std::string& name);

// The Base64 text of the file at the absolute UTF-16 `path`, or the empty
// text when it cannot be read.
std::string EncodeFileBase64W(const std::u16string& path);
