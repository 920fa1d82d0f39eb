// The common end of the import and the edit requests: the page in the
// export folder comes back as UTF-8 with its body, the list of its support
// files and, for the import and the purging edit, those files' contents;
// then the export folder is purged on those paths.
#pragma once

#include <string>

#include "endpoints/request_trees.hpp"
#include "export/reply_body.hpp"

// Which of the three decodings of the page is answered.
enum class PageLabel { kUtf8, kOur, kAcp };

// The label of a page given how many UTF-16 units (terminating NUL
// included) its bytes give in the three decodings. `our_units` is ignored
// when `our_known` is false (the page's code page is not one we know): a
// failed decoding must not win as the shortest.
PageLabel ChoosePageLabel(std::size_t utf8_units, std::size_t our_units, bool our_known,
                          std::size_t acp_units);

// The body fragment of `page`: from the first "<div" after the first
// "<body lang" up to the first "</body>" after it; the empty text when one
// of the three is missing or the "<div" comes after the "</body>".
std::string BodyFragment(const std::string& page);

// The element through which `page` refers to `name`: "img" or
// "v:imagedata", found at the nearest "<" at most 100 bytes before the
// name's first occurrence (its first byte included); "" when none.
std::string ReferringTag(const std::string& page, const std::string& name);

// Runs the export phase for `path` ("/export_as_html", "/edit_export_html",
// "/edit_export_purge_html" or "/import_file_as_html") and returns the reply
// body (template A), its pictures read while it is sent (held open, on the
// paths that purge the folder). Waits first, without a time limit, until an
// editing window of g_pMainDlg has been closed. Throws ReplyBudgetExceeded
// when the page and texts do not fit the reply text budget.
ReplyBody RunExportPhase(const std::string& path, const RequestTree& params);
