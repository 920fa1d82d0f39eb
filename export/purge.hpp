// Purging what the document engine left in the export folder once the
// editor page has taken it over. Each purge checks afterwards whether the
// key files are gone and reports in one of three fixed sentences.
#pragma once

#include <string>

// Deletes ImportHtmlPath and the support folder with everything in it. The
// purge succeeded when neither ImportHtmlPath nor FileListPath exists
// afterwards. Returns the report { "message", "success" }, or with
// `bareResult` only its sentence.
std::string PurgeWordExport(bool bareResult);

// Deletes ImportHtmlPath and the slides folder with everything in it. The
// purge succeeded when none of SlidesFolderPath, FirstSlidePathEn and
// FirstSlidePathKo exists afterwards.
std::string PurgeSlidesExport(bool bareResult);

// Deletes everything below `folder`, depth first, and `folder` itself unless
// it is the same text as `top`. Returns false when `folder` cannot be listed
// (missing, not a directory, or a symlink), else true; single deletions that
// fail are passed over.
// Symlinks are deleted, never followed: a link inside the tree, and
// `folder` itself being a link, never lead the walk out of the tree.
// Trees deeper than 128 levels are cut: what lies below stays.
bool DeleteFolderTree(const std::u16string& folder, const std::u16string& top);
