// What the last successful import brought in: reported by the export phase
// of every later import until the next one succeeds. Touched only on the
// request handler's thread.
#pragma once

#include <cstddef>
#include <string>

// Room in bytes, the terminating NUL included. A chosen path holds fewer
// than 260 UTF-16 units, which take up to three bytes each in UTF-8, so the
// path's buffer is sized for that rather than cutting a path short.
constexpr std::size_t kLocalFilenameSize = 3 * 259 + 1;
constexpr std::size_t kLocalFieldSize = 260;

extern char g_localFilename[kLocalFilenameSize];  // UTF-8 path
extern char g_localMimeType[kLocalFieldSize];
extern char g_localOpenApp[kLocalFieldSize];      // "msword", "excel", "powerpoint" or "asitis"

// Copies the three texts in, each cut to its buffer at a character boundary.
void RecordLastImport(const std::string& filename, const std::string& mime_type,
                      const std::string& open_app);
