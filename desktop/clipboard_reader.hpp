// The clipboard reply: what the desktop clipboard holds, for the editor page.
//
// One JSON text carries the copied bitmap (as PNG in Base64), the plain text,
// the clipboard HTML cut into its whole document and its fragment, and the
// local files that the HTML shows in its pictures (images in Base64, text
// files as text), so that the page gets the pictures with the HTML.
#pragma once

#include <string>
#include <string_view>

#include <json/json.h>

#include "export/reply_body.hpp"
#include "platform/clipboard.hpp"

class Base64Splice;

// The reply, written with Json::StyledWriter:
//   encoding "utf-8"; html_clipboard_original (the HTML description, cut
//   after its last "</html>"); html_body (from "<html" through the last
//   "</html>"); html_fragment (between the start and end fragment markers);
//   image_files, text_files (entries of the files the HTML refers to by
//   src="file:///...", null when none; keyed by base name, but a different
//   file whose base name an earlier one took is keyed by its URL, so that
//   every file comes back; the same URL twice is one entry); screen_capture
//   (Base64 of the bitmap as PNG); success true; text (UTF-8); and the
//   lengths text_utf16_length and *_utf8_byte_length.
// The bitmap is also saved as `capture_path` (skipped when that is empty).
// Calls are serialised: the HTTP thread and the control pipe thread share
// the capture file. An unreadable clipboard is an empty one.
// The pictures' files are read only while the reply is sent; its texts are
// charged to the reply text budget (ReplyBudgetExceeded when they do not
// fit).
ReplyBody ReadClipboardReply(platform::Clipboard& clipboard, const std::string& capture_path);

// The same for the process-wide clipboard and the export folder's capture
// file.
ReplyBody ReadClipboardReply();

// The replies above as one text, the files read now.
std::string ReadClipboardJson(platform::Clipboard& clipboard, const std::string& capture_path);
std::string ReadClipboardJson();

// The steps of the reply, exposed for tests. `html` is the clipboard HTML as
// read: `original` is cut after its last "</html>" when it has a document.
struct ClipboardHtmlParts {
  std::string original;
  std::string body;
  std::string fragment;
};
ClipboardHtmlParts CutClipboardHtml(std::string_view html);

// Adds an entry for each file that `html` refers to in an img or
// v:imagedata source "file:///...". On this system such a path is absolute
// (file:///tmp/x.png names /tmp/x.png); a Windows path with a drive letter
// (file:///C:/x.png) is kept as written.
void CollectClipboardFiles(std::string_view html, Json::Value& image_files, Json::Value& text_files);

// The same, with the pictures' Base64 texts handed to `splice` and stand-ins
// in the entries: the reply must then be laid out by splice.Lay.
void CollectClipboardFiles(std::string_view html, Json::Value& image_files, Json::Value& text_files,
                           Base64Splice& splice);
