#include "libreoffice_test_support.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lotest {

const char* const kPictures[3] = {
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGO4IyeHFTEMLQkAid1GAXiz9RcAAAAASUVORK5CYII=",
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGOQk7uDFTEMLQkAKt1GAadPUTUAAAAASUVORK5CYII=",
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGOQW2CDFTEMLQkAZLA+gfwfoKUAAAAASUVORK5CYII=",
};

namespace {

const char kNamespaces[] =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
    "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
    "office:version=\"1.2\"";

std::string Head(const char* mime) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document ") + kNamespaces +
         " office:mimetype=\"application/vnd.oasis.opendocument." + mime + "\">\n<office:body>";
}

std::string Image(int n, const char* frameAttributes) {
  return std::string("<draw:frame draw:name=\"picture") + std::to_string(n) + "\" " + frameAttributes +
         "><draw:image><office:binary-data>" + kPictures[n % 3] +
         "</office:binary-data></draw:image></draw:frame>";
}

}  // namespace

std::string FlatText(const std::vector<std::string>& paragraphs) {
  std::string xml = Head("text") + "<office:text>";
  for (const auto& p : paragraphs) {
    if (!p.empty() && p[0] == '@')
      xml += "<text:p>" +
             Image(std::atoi(p.c_str() + 1),
                   "svg:width=\"2cm\" svg:height=\"2cm\" text:anchor-type=\"as-char\"") +
             "</text:p>";
    else
      xml += "<text:p>" + p + "</text:p>";
  }
  return xml + "</office:text></office:body></office:document>\n";
}

std::string FlatSheet(const std::vector<std::vector<std::string>>& rows) {
  std::string xml = Head("spreadsheet") + "<office:spreadsheet><table:table table:name=\"Sheet1\">";
  xml += "<table:shapes>" + Image(0, "svg:x=\"6cm\" svg:y=\"1cm\" svg:width=\"2cm\" svg:height=\"2cm\"") +
         "</table:shapes>";
  for (const auto& row : rows) {
    xml += "<table:table-row>";
    for (const auto& cell : row)
      xml += "<table:table-cell office:value-type=\"string\"><text:p>" + cell + "</text:p></table:table-cell>";
    xml += "</table:table-row>";
  }
  return xml + "</table:table></office:spreadsheet></office:body></office:document>\n";
}

std::string FlatPresentation(const std::vector<std::string>& titles) {
  std::string xml = Head("presentation") + "<office:presentation>";
  for (std::size_t i = 0; i < titles.size(); ++i) {
    xml += "<draw:page draw:name=\"page" + std::to_string(i + 1) + "\">";
    xml += "<draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"20cm\" svg:height=\"3cm\"><draw:text-box><text:p>" +
           titles[i] + "</text:p></draw:text-box></draw:frame>";
    xml += Image(static_cast<int>(i), "svg:x=\"2cm\" svg:y=\"8cm\" svg:width=\"4cm\" svg:height=\"4cm\"");
    xml += "</draw:page>";
  }
  return xml + "</office:presentation></office:body></office:document>\n";
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (n == 0 || i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

void MakeDocument(platform::libreoffice::Engine& engine, platform::libreoffice::DocumentApp app,
                  const std::string& flat, const fs::path& target, const std::string& filter) {
  const fs::path source = target.string() + ".flat.xml";
  WriteFile(source, flat);
  platform::libreoffice::OpenRequest request;
  request.path = source.string();
  request.app = app;
  const auto doc = engine.Open(request);
  engine.SaveCopy(doc, target, filter);
  engine.Close(doc);
  fs::remove(source);
}

fs::path FreshDir(const std::string& name) {
  const fs::path dir = fs::path(std::getenv("XDG_RUNTIME_DIR")) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

platform::libreoffice::EngineOptions TestOptions() {
  platform::libreoffice::EngineOptions options;
  options.startLimit = std::chrono::seconds(30);
  options.callLimit = std::chrono::seconds(30);
  return options;
}

}  // namespace lotest
