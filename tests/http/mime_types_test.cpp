// The extension table and the lookup by file name.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "http/mime_types.hpp"

namespace {

using HttpCore::g_mimeTypes;
using HttpCore::mime_type_of;

struct Row {
  const char* extension;
  const char* type;
};

// The rows the import path and the editor rely on, legacy spellings included.
TEST(MimeTypes, KnownRowsHaveTheirExactTypes) {
  const Row rows[] = {
      {"doc", "application/msword"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
      {"docm", "application/vnd.ms-word.document.macroenabled.12"},
      {"rtf", "application/rtf"},
      {"xls", "application/vnd.ms-excel"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"xlsm", "application/vnd.ms-excel.sheet.macroenabled.12"},
      {"xlsb", "application/vnd.ms-excel.sheet.binary.macroenabled.12"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"pptm", "application/vnd.ms-powerpoint.presentation.macroenabled.12"},
      {"ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow"},
      {"pdf", "application/pdf"},
      {"html", "text/html"},
      {"htm", "text/html"},
      {"txt", "text/plain"},
      {"csv", "text/csv"},
      {"css", "text/css"},
      {"xml", "application/xml"},
      {"js", "application/javascript"},
      {"json", "application/json"},
      {"png", "image/x-png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"bmp", "image/bmp"},
      {"ico", "image/x-icon"},
      {"tiff", "image/tiff"},
      {"svg", "image/svg+xml"},
      {"wmf", "application/x-msmetafile"},
      {"odt", "application/vnd.oasis.opendocument.text"},
      {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
      {"odp", "application/vnd.oasis.opendocument.presentation"},
      {"zip", "application/zip"},
      {"java", "text/x-java-source,java"},
      {"atom.xml", "application/atom+xml"},
      {"N/A", "application/andrew-inset"},
  };
  for (const Row& row : rows) {
    const auto found = g_mimeTypes.find(row.extension);
    ASSERT_NE(found, g_mimeTypes.end()) << row.extension;
    EXPECT_EQ(found->second, row.type) << row.extension;
  }
}

TEST(MimeTypes, TableShape) {
  EXPECT_EQ(g_mimeTypes.size(), 689u);
  EXPECT_EQ(&g_mimeTypes, &HttpCore::mime_types());
  for (const char* absent : {"tif", "dot", "xlt", "pps", "pot", "mht", "mhtml", "emf", "gz"}) {
    EXPECT_EQ(g_mimeTypes.count(absent), 0u) << absent;
  }
  const std::set<std::string> topLevel = {"application", "audio", "chemical", "font", "image",
                                          "message", "model", "text", "video", "x-conference"};
  for (const auto& [extension, type] : g_mimeTypes) {
    const std::size_t slash = type.find('/');
    ASSERT_NE(slash, std::string::npos) << extension;
    EXPECT_EQ(topLevel.count(type.substr(0, slash)), 1u) << extension << " -> " << type;
    EXPECT_LT(slash + 1, type.size()) << extension;
    EXPECT_EQ(type.find_first_of("/ \t", slash + 1), std::string::npos) << extension;
    for (const char c : type) {
      EXPECT_TRUE(c > ' ' && c < 0x7f) << extension;
    }
  }
}

TEST(MimeTypes, LookupByFileName) {
  struct Case {
    std::string name;
    std::string type;
  };
  const Case cases[] = {
      {"report.DOCX", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"picture.png", "image/x-png"},
      {"Slides.PpTx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"dir.v2/notes.txt", "text/plain"},
      {".pdf", "application/pdf"},
      {std::string("x\0.DOC", 6), "application/msword"},
      {"archive.tar.gz", ""},  // only the text after the last dot counts
      {"noext", ""},
      {"", ""},
      {".hidden", ""},
      {"trailing.", ""},
      {"dir.d/noext", ""},
      {"bad.\xC4OC", ""},
      // The two keys no file name can reach.
      {"feed.atom.xml", "application/xml"},
      {"weird.N/A", ""},
      {"weird.n/a", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mime_type_of(c.name), c.type) << c.name;
  }
}

}  // namespace
