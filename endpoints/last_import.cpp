#include "endpoints/last_import.hpp"

#include <cstring>

char g_localFilename[kLocalFilenameSize];
char g_localMimeType[kLocalFieldSize];
char g_localOpenApp[kLocalFieldSize];

namespace {

template <std::size_t N>
void CopyBounded(char (&field)[N], const std::string& text) {
  std::size_t length = text.size() < N ? text.size() : N - 1;
  // Never leave half a UTF-8 character at the end.
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

}  // namespace

void RecordLastImport(const std::string& filename, const std::string& mime_type,
                      const std::string& open_app) {
  CopyBounded(g_localFilename, filename);
  CopyBounded(g_localMimeType, mime_type);
  CopyBounded(g_localOpenApp, open_app);
}
