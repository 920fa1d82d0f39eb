// "/import_file_as_html", first phase: the person at the desktop picks a
// document, which is converted into the export folder (or copied there as
// it is); the export phase then reads it back and answers.
#pragma once

#include <optional>
#include <string>

#include "endpoints/request_trees.hpp"

// Longest accepted parameters: the dialog kind in bytes, the chooser's
// title in UTF-16 units and in bytes.
constexpr std::size_t kMaxFileFilterBytes = 259;
constexpr std::size_t kMaxDialogTitleUnits = 2047;
constexpr std::size_t kMaxDialogTitleBytes = 4095;

// Runs the import. Returns the reply body when the import ends here (a
// refused or failed import, answered with template A), or std::nullopt when
// the document is in the export folder and the export phase must follow.
// Every import ends with g_pMainDlg null; a successful one sets the
// last-import record. Throws std::range_error for a dialog_title that is not
// UTF-8.
std::optional<std::string> RunImportPhase(const RequestTree& params);
