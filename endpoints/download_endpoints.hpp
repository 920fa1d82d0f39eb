// "/download_text", "/download_base64" and "/purge_export": thin endpoints
// over the export folder's services, whose JSON is the reply body.
#pragma once

#include <cstddef>
#include <string>

#include "endpoints/request_trees.hpp"
#include "export/reply_body.hpp"

// `filename` and `html_codepage` are read into 256-byte buffers: values of
// 256 bytes or more are not taken as they are.
constexpr std::size_t kMaxDownloadParamBytes = 255;

// The text download entry of `filename`, read in code page `html_codepage`
// (atoi of the text; 0, the system code page, when missing).
std::string DownloadTextReply(const RequestTree& params);

// The Base64 download entry of `filename`, the file read while it is sent.
ReplyBody DownloadBase64Reply(const RequestTree& params);

// The JSON report of purging the Word and Excel output.
std::string PurgeExportReply();
