// Lays out a page the office exported the way Word leaves a page saved as a
// web page: <dir>/<stem>.html in UTF-8, its body in a <div class=WordSection1>,
// its pictures and other support files
// in <dir>/<stem>.files/ under stable names (image001.png, image002.jpg, ...)
// referenced from the page as "<stem>.files/<name>", and a filelist.xml in
// that folder listing every support file and itself.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace platform::libreoffice {

struct InstalledWebPage {
  std::filesystem::path page;
  std::filesystem::path supportFolder;
  std::vector<std::string> supportFiles;  // in page order, without filelist.xml
};

struct LayoutChoices {
  // Bare names beside the staged page that begin with this are files the
  // office wrote for it (and so are moved into the support folder); every
  // one when empty.
  std::string officeFilePrefix;
  // Pictures the page links rather than embeds stay with it: a file of the
  // old support folder it still names, and a local picture it names by a
  // file:// URL, are copied into the new support folder.
  bool keepLinkedPictures = false;
  // The last change to the laid-out page text before it is written (say,
  // into another encoding); none when empty.
  std::function<std::string(const std::string& html)> finalText;
};

// Installs the page `staged` (an HTML file whose relative references name
// files beside it, as the office writes them) at `target`; `staged` may be
// `target` itself. An older page and support folder at `target` are
// replaced; the staged files are moved away. Raises std::runtime_error when
// the target cannot be written; the old page is kept unless the failure came
// while swapping the new one in, and no half-written page or folder is left
// behind.
InstalledWebPage InstallWebPage(const std::filesystem::path& staged, const std::filesystem::path& target,
                                const LayoutChoices& choices = {});

// `html` with the content of its body inside <div class=WordSection1>, as
// Word writes a page, unless the body already opens with a <div>.
std::string WrapBody(const std::string& html);

// The file list text for `names` (support-folder relative) of the page
// called `pageName`, in the form Word writes.
std::string FileListXml(const std::string& pageName, const std::vector<std::string>& names);

}  // namespace platform::libreoffice
