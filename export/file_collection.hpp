// Files the editor page names itself ("/get_files"): pictures a pasted or
// imported page refers to, and texts beside them.
#pragma once

#include <string>

#include "export/reply_body.hpp"

// `list` is UTF-8, names separated by ','. Every name of at most 259 bytes
// that exists gets an entry by AddCollectedFile under the name as listed,
// with the tag "img" and the system code page; longer names, empty names and
// names that do not exist are skipped. Returns
//   { "encoding": "utf-8", "image_files", "success": true, "text_files" }
// with each of the two objects null when it got no entry.
// Throws std::range_error when a name of at most 259 bytes is not UTF-8
// (the front answers 400 then).
// The pictures' files are read only while the reply is sent; the texts are
// charged to the reply text budget (ReplyBudgetExceeded when they do not
// fit).
ReplyBody CollectFilesReply(const std::string& list);

// The same as one text, the files read now.
std::string CollectFilesJson(const std::string& list);
