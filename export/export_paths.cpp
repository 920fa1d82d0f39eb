#include "export/export_paths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/utf.hpp"

namespace {

struct PathTable {
  bool ready = false;
  std::u16string export_root;
  std::string export_root_utf8;
  std::u16string import_html;
  std::string import_html_utf8;
  std::u16string support_folder;
  std::string support_folder_utf8;
  std::u16string slides_folder;
  std::u16string first_slide_en;
  std::u16string first_slide_ko;
  std::u16string slide_pattern_en;
  std::u16string slide_pattern_ko;
  std::u16string file_list;
  std::string file_list_utf8;
  std::u16string screen_capture;
  std::string screen_capture_utf8;
};

PathTable& Table() {
  static PathTable table;
  return table;
}

// "슬라이드", the Korean word for slide, as PowerPoint names its pictures in a
// Korean installation.
constexpr char16_t kSlideKo[] = u"\uC2AC\uB77C\uC774\uB4DC";

// The longest path below the root: the Korean slide pattern with a two-digit
// number, in UTF-8 ("/import_pptslides/" + 12 bytes + "99.JPG").
constexpr std::size_t kLongestSuffixBytes = 18 + 12 + 6;

bool Refuse(std::string* reason, std::string text) {
  Table() = PathTable();
  if (reason != nullptr) *reason = std::move(text);
  return false;
}

std::string ChooseRoot() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    std::string root = runtime;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root == "/") root.clear();
    return root + "/docklane";
  }
  return "/tmp/docklane-" + std::to_string(geteuid());
}

}  // namespace

bool InitExportPaths(std::string* reason) {
  const std::string root = ChooseRoot();
  if (root.size() + kLongestSuffixBytes > kMaxExportPathBytes) {
    return Refuse(reason, "export root " + root + " is too long");
  }
  std::u16string wide_root;
  try {
    wide_root = Utf8ToWide(root);
  } catch (const std::range_error&) {
    return Refuse(reason, "export root " + root + " is not UTF-8");
  }

  // An existing root is fine; anything else about it is checked on the
  // opened directory itself, so that a swap between check and use is moot.
  if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) {
    return Refuse(reason, "cannot create export root " + root + ": " +
                              std::strerror(errno));
  }
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return Refuse(reason, "export root " + root +
                              " is a symlink or not a directory: " +
                              std::strerror(errno));
  }
  struct stat st;
  bool owned = fstat(fd, &st) == 0 && st.st_uid == geteuid();
  bool private_mode = owned && ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
  close(fd);
  if (!owned) {
    return Refuse(reason, "export root " + root + " belongs to another user");
  }
  if (!private_mode) {
    return Refuse(reason, "cannot make export root " + root + " private");
  }

  PathTable table;
  table.ready = true;
  table.export_root = wide_root;
  table.export_root_utf8 = root;
  table.import_html = wide_root + u"/import.html";
  table.import_html_utf8 = WideToUtf8(table.import_html);
  table.support_folder = wide_root + u"/import.files";
  table.slides_folder = wide_root + u"/import_pptslides";
  table.first_slide_en = table.slides_folder + u"/Slide1.JPG";
  table.first_slide_ko = table.slides_folder + u"/" + kSlideKo + u"1.JPG";
  table.slide_pattern_en = table.slides_folder + u"/Slide%d.JPG";
  table.slide_pattern_ko = table.slides_folder + u"/" + kSlideKo + u"%d.JPG";
  table.support_folder_utf8 = WideToUtf8(table.support_folder);
  table.file_list = table.support_folder + u"/filelist.xml";
  table.file_list_utf8 = WideToUtf8(table.file_list);
  table.screen_capture = wide_root + u"/pqe_screen_capture.png";
  table.screen_capture_utf8 = WideToUtf8(table.screen_capture);
  Table() = std::move(table);
  if (reason != nullptr) reason->clear();
  return true;
}

bool ExportPathsReady() { return Table().ready; }

const std::u16string& ExportRoot() { return Table().export_root; }
const std::string& ExportRootUtf8() { return Table().export_root_utf8; }
const std::u16string& ImportHtmlPath() { return Table().import_html; }
const std::string& ImportHtmlPathUtf8() { return Table().import_html_utf8; }
const std::u16string& SupportFolderPath() { return Table().support_folder; }
const std::string& SupportFolderPathUtf8() { return Table().support_folder_utf8; }
const std::u16string& SlidesFolderPath() { return Table().slides_folder; }
const std::u16string& FirstSlidePathEn() { return Table().first_slide_en; }
const std::u16string& FirstSlidePathKo() { return Table().first_slide_ko; }
const std::u16string& SlidePatternEn() { return Table().slide_pattern_en; }
const std::u16string& SlidePatternKo() { return Table().slide_pattern_ko; }
const std::u16string& FileListPath() { return Table().file_list; }
const std::string& FileListPathUtf8() { return Table().file_list_utf8; }
const std::u16string& ScreenCapturePath() { return Table().screen_capture; }
const std::string& ScreenCapturePathUtf8() { return Table().screen_capture_utf8; }

const std::string& SupportFolderPrefix() {
  static const std::string prefix = "import.files/";
  return prefix;
}

std::u16string FormatSlidePath(std::u16string_view pattern, int number) {
  std::u16string path(pattern);
  const auto at = path.find(u"%d");
  if (at != std::u16string::npos) {
    const std::string digits = std::to_string(number);
    path.replace(at, 2, std::u16string(digits.begin(), digits.end()));
  }
  return path;
}

bool IsAbsoluteExportName(std::string_view name) {
  return (!name.empty() && name[0] == '/') || (name.size() >= 2 && name[1] == ':');
}

std::optional<std::string> ResolveExportName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  std::string path;
  if (IsAbsoluteExportName(name)) {
    path = std::string(name);
  } else {
    if (!ExportPathsReady()) return std::nullopt;
    path = SupportFolderPathUtf8() + "/" + std::string(name);
  }
  if (path.size() > kMaxExportPathBytes) return std::nullopt;
  return path;
}
