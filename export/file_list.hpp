// The file list that the document engine writes beside a saved page
// (import.files/filelist.xml). It is not parsed as XML: each
// `<o:File HRef="` opens an entry whose name runs to the next `"/>`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The names of `text` (UTF-8) in file order. Names of 260 bytes or more are
// skipped; the scan goes on after them. Text after the last complete entry
// is ignored.
std::vector<std::string> ScanFileList(std::string_view text);

// Reads the file list at `path` (normally FileListPathUtf8()) and converts it
// from the system code page to UTF-8, up to its first NUL byte and to at
// most twice the file's size in bytes. std::nullopt when it cannot be read.
std::optional<std::string> ReadFileListText(const std::string& path);
