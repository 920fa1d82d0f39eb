#pragma once
// File-system checks on UTF-16 paths, as the office conversions and the
// open-file dialog hand them.

#include <string>

// True when `path` names an existing file or folder. A path with an embedded
// NUL names nothing (it must not be taken for the shorter path before it).
bool FileOrFolderExists(const std::u16string& path);

// Deletes the file at `path`; a failure is ignored.
void DeleteFileQuietly(const std::u16string& path);

