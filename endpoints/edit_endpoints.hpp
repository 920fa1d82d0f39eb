// Editing the editor page's HTML in the word processor: "/edit_new_html",
// "/edit_export_html" and "/edit_export_purge_html" write the page into the
// export folder and open it in a Word window; "/check_msword_alive" and
// "/close_msword_window" follow and end that window.
#pragma once

#include <optional>
#include <string>

#include "endpoints/reply_framing.hpp"
#include "endpoints/request_trees.hpp"

// What the edit phase answers when it ends the request.
struct EditReply {
  std::string body;
  ReplyTemplate reply_template = ReplyTemplate::kA;
};

// The edit phase for `path` (one of the three edit paths): a new hidden
// dialog object, Word started, the page written in its code page and opened
// in Word. Returns the reply when the request ends here ("/edit_new_html"
// always; the export variants when Word cannot be started or the page does
// not fit its buffer), or std::nullopt when the export phase must follow,
// after the export variants' three-second pause.
std::optional<EditReply> RunEditPhase(const std::string& path, const RequestTree& params,
                                      const RequestTree& fields);

// {"msword_alive": ..., "success": true}; forgets the dialog object when its
// window is gone.
std::string CheckWordAliveReply();

// Saves and closes the editing window, when there is one, and answers
// {"message": "Office Word Application closed", "success": true}.
std::string CloseWordWindowReply();

// The one-line report of "/edit_new_html" (not JSON-writer output).
std::string WriteReport(std::size_t bytes, long code_page, unsigned system_code_page);
