#include "export/file_checks.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "base/utf.hpp"

bool FileOrFolderExists(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  struct stat st;
  return ::stat(WideToUtf8(path).c_str(), &st) == 0;
}

void DeleteFileQuietly(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  ::unlink(WideToUtf8(path).c_str());
}

