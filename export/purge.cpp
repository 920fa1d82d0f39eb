#include "export/purge.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <json/json.h>

#include <string>
#include <vector>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "export/export_paths.hpp"

namespace {

constexpr char kPurged[] = "all exported files were deleted!";
constexpr char kWordFailure[] =
    "Delete Failure: some exported files were NOT deleted! Maybe still opened "
    "by WINWORD.exe application";
constexpr char kSlidesFailure[] =
    "Delete Failure: some exported files were NOT deleted! Maybe still opened "
    "by POWERPT.exe application";

constexpr int kMaxDepth = 128;

// Deletes the entries of the directory open at `dir`, working relative to
// the descriptor so that no path is ever re-resolved: a component swapped
// for a symlink meanwhile cannot redirect the walk.
void DeleteEntries(int dir, int depth) {
  std::vector<std::string> names;
  {
    const int listing = dup(dir);
    if (listing < 0) return;
    DIR* stream = fdopendir(listing);
    if (stream == nullptr) {
      close(listing);
      return;
    }
    // Names first, deletions after: deleting while reading a directory
    // leaves it open whether removed entries are still listed.
    while (const dirent* entry = readdir(stream)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(stream);
  }
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (depth >= kMaxDepth) continue;
      const int sub = openat(dir, name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) continue;
      DeleteEntries(sub, depth + 1);
      close(sub);
      unlinkat(dir, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(dir, name.c_str(), 0);
    }
  }
}

// Removes a folder that should be empty now; a symlink in its place is
// removed as a link.
void RemoveFolder(const std::string& path) {
  if (path.empty()) return;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    unlink(path.c_str());
  } else {
    rmdir(path.c_str());
  }
}

bool Exists(const std::u16string& path) {
  if (path.empty()) return false;
  struct stat st;
  return lstat(WideToUtf8(path).c_str(), &st) == 0;
}

std::string Report(bool success, const char* failure, bool bareResult) {
  const char* sentence = success ? kPurged : failure;
  if (bareResult) return sentence;
  Json::Value report(Json::objectValue);
  report["message"] = sentence;
  report["success"] = success;
  return StyledJson(report);
}

void DeleteFile(const std::string& path) {
  if (!path.empty()) unlink(path.c_str());
}

}  // namespace

bool DeleteFolderTree(const std::u16string& folder, const std::u16string& top) {
  const std::string path = WideToUtf8(folder);
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  DeleteEntries(dir, 0);
  close(dir);
  if (folder != top) rmdir(path.c_str());
  return true;
}

std::string PurgeWordExport(bool bareResult) {
  DeleteFile(ImportHtmlPathUtf8());
  DeleteFolderTree(SupportFolderPath(), SupportFolderPath());
  RemoveFolder(SupportFolderPathUtf8());
  const bool purged = !Exists(ImportHtmlPath()) && !Exists(FileListPath());
  return Report(purged, kWordFailure, bareResult);
}

std::string PurgeSlidesExport(bool bareResult) {
  DeleteFile(ImportHtmlPathUtf8());
  DeleteFolderTree(SlidesFolderPath(), SlidesFolderPath());
  RemoveFolder(WideToUtf8(SlidesFolderPath()));
  const bool purged = !Exists(SlidesFolderPath()) &&
                      !Exists(FirstSlidePathEn()) && !Exists(FirstSlidePathKo());
  return Report(purged, kSlidesFailure, bareResult);
}
