#include "platform/libreoffice/web_page_layout.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace platform::libreoffice {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsImageExtension(const std::string& ext) {
  static const char* const kImages[] = {"png", "jpg", "jpeg", "gif", "bmp", "svg",
                                        "wmf", "emf", "tif", "tiff", "webp"};
  for (const char* e : kImages)
    if (ext == e) return true;
  return false;
}

std::string ReadWhole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the exported page " + p.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
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

}  // namespace

std::string FileListXml(const std::string& pageName, const std::vector<std::string>& names) {
  std::string xml = "<xml xmlns:o=\"urn:schemas-microsoft-com:office:office\">\r\n";
  xml += " <o:MainFile HRef=\"../" + pageName + "\"/>\r\n";
  for (const auto& n : names) xml += " <o:File HRef=\"" + n + "\"/>\r\n";
  xml += " <o:File HRef=\"filelist.xml\"/>\r\n</xml>\r\n";
  return xml;
}

InstalledWebPage InstallWebPage(const fs::path& staged, const fs::path& target) {
  const fs::path stagingDir = staged.parent_path();
  const fs::path targetDir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(targetDir))
    throw std::runtime_error("the folder " + targetDir.string() + " does not exist");
  const std::string stem = target.stem().string();
  const std::string folderName = stem + ".files";
  const std::string prefix = folderName + "/";

  const std::string html = ReadWhole(staged);
  // Rewrite every src, href and background value that names a staged file.
  std::string out;
  out.reserve(html.size() + 256);
  std::map<std::string, std::string> renamed;  // staged name -> support name
  std::vector<std::pair<std::string, std::string>> order;
  unsigned images = 0, others = 0;
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
    std::error_code ec;
    if (IsLocalName(value) && value != staged.filename().string() &&
        fs::is_regular_file(stagingDir / value, ec)) {
      auto it = renamed.find(value);
      if (it == renamed.end()) {
        std::string ext = Lower(fs::path(value).extension().string());
        if (!ext.empty()) ext.erase(0, 1);
        char name[64];
        if (IsImageExtension(ext))
          std::snprintf(name, sizeof name, "image%03u", ++images);
        else
          std::snprintf(name, sizeof name, "file%03u", ++others);
        std::string support = name;
        if (!ext.empty() && ext.size() <= 8) support += "." + ext;
        it = renamed.emplace(value, support).first;
        order.emplace_back(value, support);
      }
      out += prefix + it->second;
    } else {
      out += value;
    }
    out += quote;
    pos = end + 1;
  }
  if (pos < html.size()) out.append(html, pos, std::string::npos);

  // Word links the file list from the page head.
  const std::string outLower = Lower(out);
  const std::size_t head = outLower.find("<head>");
  if (head != std::string::npos)
    out.insert(head + 6, "\n<link rel=\"File-List\" href=\"" + prefix + "filelist.xml\">");

  // Build the new folder and page beside the old ones, then swap them in.
  const std::string tag = ".new-" + std::to_string(::getpid());
  const fs::path newFolder = targetDir / (folderName + tag);
  const fs::path newPage = targetDir / (target.filename().string() + tag);
  std::error_code ec;
  fs::remove_all(newFolder, ec);
  try {
    fs::create_directory(newFolder);
    InstalledWebPage result;
    for (const auto& [from, to] : order) {
      MoveFile(stagingDir / from, newFolder / to);
      result.supportFiles.push_back(to);
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
