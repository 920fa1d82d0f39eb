#include "platform/libreoffice/web_page_layout.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>

#include "platform/libreoffice/text_support.hpp"

namespace fs = std::filesystem;

namespace platform::libreoffice {
namespace {

bool IsImageExtension(const std::string& ext) {
  static const char* const kImages[] = {"png", "jpg", "jpeg", "gif", "bmp", "svg",
                                        "wmf", "emf", "tif", "tiff", "webp"};
  for (const char* e : kImages)
    if (ext == e) return true;
  return false;
}

void WriteWhole(const fs::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

// Moves a file, copying when source and target are on different file systems.
void MoveFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw std::runtime_error("cannot move " + from.string() + " to " + to.string() + ": " + ec.message());
  fs::remove(from, ec);
}

// A reference the office wrote to a file beside the page: a bare file name.
bool IsLocalName(const std::string& v) {
  return !v.empty() && v.find_first_of("/\\:?#") == std::string::npos && v != "." && v != "..";
}

// The local picture a file:// URL names, when it is one.
std::optional<fs::path> LocalPictureOfUrl(const std::string& url) {
  static const std::string kScheme = "file://";
  if (url.size() <= kScheme.size() || Lower(url.substr(0, kScheme.size())) != kScheme) return std::nullopt;
  std::string path;
  for (std::size_t i = kScheme.size(); i < url.size(); ++i) {
    const char c = url[i];
    if (c == '%' && i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
      path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (c == '?' || c == '#') {
      break;
    } else {
      path += c;
    }
  }
  // "file://localhost/x" and "file:///x" both name /x.
  if (path.compare(0, 9, "localhost") == 0) path.erase(0, 9);
  std::string ext = Lower(fs::path(path).extension().string());
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos || ext.size() < 2 ||
      !IsImageExtension(ext.substr(1)))
    return std::nullopt;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return fs::path(path);
}

}  // namespace

std::string WrapBody(const std::string& html) {
  const std::string lower = Lower(html);
  std::size_t body = lower.find("<body");
  while (body != std::string::npos && body + 5 < lower.size() && lower[body + 5] != '>' &&
         !std::isspace(static_cast<unsigned char>(lower[body + 5])))
    body = lower.find("<body", body + 5);
  if (body == std::string::npos) return html;
  const std::size_t open = lower.find('>', body);
  const std::size_t close = lower.rfind("</body>");
  if (open == std::string::npos || close == std::string::npos || close < open) return html;
  const std::size_t first = lower.find_first_not_of(" \t\r\n", open + 1);
  if (first != std::string::npos && lower.compare(first, 4, "<div") == 0) return html;
  std::string out = html.substr(0, open + 1) + "\n<div class=WordSection1>\n";
  out.append(html, open + 1, close - open - 1);
  out += "\n</div>\n";
  out.append(html, close, std::string::npos);
  return out;
}

std::string FileListXml(const std::string& pageName, const std::vector<std::string>& names) {
  std::string xml = "<xml xmlns:o=\"urn:schemas-microsoft-com:office:office\">\r\n";
  xml += " <o:MainFile HRef=\"../" + pageName + "\"/>\r\n";
  for (const auto& n : names) xml += " <o:File HRef=\"" + n + "\"/>\r\n";
  xml += " <o:File HRef=\"filelist.xml\"/>\r\n</xml>\r\n";
  return xml;
}

InstalledWebPage InstallWebPage(const fs::path& staged, const fs::path& target, const LayoutChoices& choices) {
  const fs::path stagingDir = staged.parent_path();
  const fs::path targetDir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(targetDir))
    throw std::runtime_error("the folder " + targetDir.string() + " does not exist");
  const std::string stem = target.stem().string();
  const std::string folderName = stem + ".files";
  const std::string prefix = folderName + "/";

  const std::optional<std::string> read = ReadPageFile(staged);
  if (!read) throw std::runtime_error("cannot read the exported page " + staged.string());
  const std::string& html = *read;
  const fs::path oldFolder = targetDir / folderName;
  // Pictures of the old support folder that the page still names keep
  // their names; new ones are numbered around them.
  std::set<std::string> linked;
  if (choices.keepLinkedPictures) {
    std::error_code ec;
    std::size_t budget = 10000;
    for (fs::directory_iterator it(oldFolder, ec), end; !ec && it != end && budget-- > 0; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::string ext = Lower(it->path().extension().string());
      if (ext.size() > 1 && IsImageExtension(ext.substr(1)) && it->is_regular_file(ec) &&
          html.find(prefix + name) != std::string::npos)
        linked.insert(name);
    }
  }
  // Rewrite every src, href and background value that names a staged file.
  std::string out;
  out.reserve(html.size() + 256);
  std::map<std::string, std::string> renamed;  // reference -> support name
  struct Placed {
    fs::path from;
    std::string name;
    bool move;  // the office's own file; a linked picture is copied
  };
  std::vector<Placed> order;
  std::set<std::string> taken = linked;
  unsigned images = 0, others = 0;
  // A name of the form image001.png (file001.xyz), not yet taken.
  auto numbered = [&](const std::string& from) {
    std::string ext = Lower(fs::path(from).extension().string());
    if (!ext.empty()) ext.erase(0, 1);
    const bool image = IsImageExtension(ext);
    for (;;) {
      char name[64];
      std::snprintf(name, sizeof name, image ? "image%03u" : "file%03u", image ? ++images : ++others);
      std::string support = name;
      if (!ext.empty() && ext.size() <= 8) support += "." + ext;
      if (taken.insert(support).second) return support;
    }
  };
  const std::string lower = Lower(html);
  std::size_t pos = 0;
  while (pos < html.size()) {
    std::size_t best = std::string::npos, nameLen = 0;
    for (const char* attr : {"src=", "href=", "background="}) {
      std::size_t at = lower.find(attr, pos);
      // Only whole attribute names: "data-src=" is not "src=".
      while (at != std::string::npos && at > 0 && !std::isspace(static_cast<unsigned char>(lower[at - 1])))
        at = lower.find(attr, at + 1);
      if (at < best) {
        best = at;
        nameLen = std::char_traits<char>::length(attr);
      }
    }
    if (best == std::string::npos || best + nameLen >= html.size()) break;
    const std::size_t q = best + nameLen;
    const char quote = html[q];
    if (quote != '"' && quote != '\'') {
      out.append(html, pos, q - pos);
      pos = q;
      continue;
    }
    const std::size_t end = html.find(quote, q + 1);
    if (end == std::string::npos) break;
    const std::string value = html.substr(q + 1, end - q - 1);
    out.append(html, pos, q + 1 - pos);
    auto it = renamed.find(value);
    if (it == renamed.end()) {
      std::error_code ec;
      std::optional<Placed> placed;
      if (IsLocalName(value) && value != staged.filename().string() &&
          value.compare(0, choices.officeFilePrefix.size(), choices.officeFilePrefix) == 0 && fs::is_regular_file(stagingDir / value, ec)) {
        placed = Placed{stagingDir / value, numbered(value), true};
      } else if (choices.keepLinkedPictures && value.compare(0, prefix.size(), prefix) == 0 &&
                 linked.count(value.substr(prefix.size())) != 0) {
        const std::string kept = value.substr(prefix.size());
        placed = Placed{oldFolder / kept, kept, false};
      } else if (choices.keepLinkedPictures) {
        const std::optional<fs::path> local = LocalPictureOfUrl(value);
        if (local) placed = Placed{*local, numbered(local->filename().string()), false};
      }
      if (placed) {
        it = renamed.emplace(value, placed->name).first;
        order.push_back(std::move(*placed));
      }
    }
    out += it != renamed.end() ? prefix + it->second : value;
    out += quote;
    pos = end + 1;
  }
  if (pos < html.size()) out.append(html, pos, std::string::npos);

  out = WrapBody(out);
  // Word links the file list from the page head.
  const std::string outLower = Lower(out);
  const std::size_t head = outLower.find("<head>");
  if (head != std::string::npos && outLower.find("rel=\"file-list\"") == std::string::npos)
    out.insert(head + 6, "\n<link rel=\"File-List\" href=\"" + prefix + "filelist.xml\">");
  if (choices.finalText) out = choices.finalText(out);

  // Build the new folder and page beside the old ones, then swap them in.
  const std::string tag = ".new-" + std::to_string(::getpid());
  const fs::path newFolder = targetDir / (folderName + tag);
  const fs::path newPage = targetDir / (target.filename().string() + tag);
  std::error_code ec;
  fs::remove_all(newFolder, ec);
  try {
    fs::create_directory(newFolder);
    InstalledWebPage result;
    for (const Placed& placed : order) {
      if (placed.move) {
        MoveFile(placed.from, newFolder / placed.name);
      } else {
        fs::copy_file(placed.from, newFolder / placed.name, fs::copy_options::overwrite_existing);
      }
      result.supportFiles.push_back(placed.name);
    }
    WriteWhole(newFolder / "filelist.xml", FileListXml(target.filename().string(), result.supportFiles));
    WriteWhole(newPage, out);
    const fs::path folder = targetDir / folderName;
    fs::remove_all(folder);
    fs::rename(newFolder, folder);
    fs::rename(newPage, target);
    result.page = target;
    result.supportFolder = folder;
    return result;
  } catch (const fs::filesystem_error& e) {
    fs::remove_all(newFolder, ec);
    fs::remove(newPage, ec);
    throw std::runtime_error(std::string("cannot write the web page: ") + e.what());
  } catch (...) {
    fs::remove_all(newFolder, ec);
    fs::remove(newPage, ec);
    throw;
  }
}

}  // namespace platform::libreoffice
