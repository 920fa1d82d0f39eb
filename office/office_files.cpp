#include "office/office_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/automation.hpp"

namespace office {

std::string PathToUtf8(const std::u16string& path) {
  return Automation::Variant::Bstr(path).ToUtf8();
}

bool FileOrFolderExists(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return false;
  struct stat st;
  return ::stat(PathToUtf8(path).c_str(), &st) == 0;
}

void DeleteFileQuietly(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return;
  ::unlink(PathToUtf8(path).c_str());
}

}  // namespace office
