#pragma once
// File-system checks the conversions make on UTF-16 paths.

#include <string>

namespace office {

// UTF-8 form of a UTF-16 path; a lone surrogate becomes U+FFFD.
std::string PathToUtf8(const std::u16string& path);

// True when `path` names an existing file or folder. A path with an embedded
// NUL names nothing (it must not be taken for the shorter path before it).
bool FileOrFolderExists(const std::u16string& path);

// Deletes the file at `path`; a failure is ignored.
void DeleteFileQuietly(const std::u16string& path);

}  // namespace office
