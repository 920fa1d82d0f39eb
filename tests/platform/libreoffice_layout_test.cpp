// Content sniffing and the web page layout, without the office.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "export/file_list.hpp"
#include "libreoffice_test_support.hpp"
#include "platform/libreoffice/format_sniffer.hpp"
#include "platform/libreoffice/edited_page.hpp"
#include "platform/libreoffice/web_page_layout.hpp"

namespace {

using namespace lotest;
using platform::libreoffice::ContentKind;
using platform::libreoffice::SniffFile;

// A ZIP archive with stored entries of the given names (contents empty):
// enough for the sniffer, which reads the central directory.
std::string Zip(const std::vector<std::string>& names) {
  std::string local, central;
  auto le16 = [](std::string& s, unsigned v) { s += char(v & 255); s += char((v >> 8) & 255); };
  auto le32 = [&](std::string& s, unsigned v) { le16(s, v & 0xFFFF); le16(s, v >> 16); };
  for (const auto& name : names) {
    const unsigned offset = static_cast<unsigned>(local.size());
    local += "PK\x03\x04";
    le16(local, 20); le16(local, 0); le16(local, 0); le16(local, 0); le16(local, 0);
    le32(local, 0); le32(local, 0); le32(local, 0);
    le16(local, static_cast<unsigned>(name.size())); le16(local, 0);
    local += name;
    central += "PK\x01\x02";
    le16(central, 20); le16(central, 20); le16(central, 0); le16(central, 0); le16(central, 0); le16(central, 0);
    le32(central, 0); le32(central, 0); le32(central, 0);
    le16(central, static_cast<unsigned>(name.size())); le16(central, 0); le16(central, 0);
    le16(central, 0); le16(central, 0); le32(central, 0); le32(central, offset);
    central += name;
  }
  std::string end = "PK\x05\x06";
  le16(end, 0); le16(end, 0);
  le16(end, static_cast<unsigned>(names.size())); le16(end, static_cast<unsigned>(names.size()));
  le32(end, static_cast<unsigned>(central.size())); le32(end, static_cast<unsigned>(local.size()));
  le16(end, 0);
  return local + central + end;
}

TEST(LibreOfficeSniffer, RecognisesOfficeContainersByTheirParts) {
  const auto dir = FreshDir("sniff-zip");
  struct Case { std::vector<std::string> names; ContentKind kind; } cases[] = {
      {{"[Content_Types].xml", "_rels/.rels", "word/document.xml"}, ContentKind::kWordprocessingML},
      {{"[Content_Types].xml", "xl/workbook.xml"}, ContentKind::kSpreadsheetML},
      {{"[Content_Types].xml", "ppt/presentation.xml"}, ContentKind::kPresentationML},
      // A ZIP without the content-types part is no Office document.
      {{"word/document.xml"}, ContentKind::kUnknown},
      {{"a.txt"}, ContentKind::kUnknown},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "f.docx", Zip(c.names));
    EXPECT_EQ(SniffFile((dir / "f.docx").string()), c.kind) << c.names.back();
  }
}

TEST(LibreOfficeSniffer, RecognisesByContentNotByName) {
  const auto dir = FreshDir("sniff-content");
  struct Case { std::string name, bytes; ContentKind kind; } cases[] = {
      {"a.docx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'), ContentKind::kCompoundFile},
      {"a.doc", "{\\rtf1\\ansi hello}", ContentKind::kRtf},
      {"a.docx", "junk\n%PDF-1.7\n", ContentKind::kPdf},
      {"a.doc", "\xEF\xBB\xBF  <!DOCTYPE html><html></html>", ContentKind::kHtml},
      {"a.htm", "<p>no html element</p>", ContentKind::kUnknown},
      {"a.txt", "plain \xED\x95\x9C text\n", ContentKind::kPlainText},
      // Text with another name, or bytes that are not UTF-8 text, are not text.
      {"a.docx", "plain text\n", ContentKind::kUnknown},
      {"a.txt", std::string("bin\0ary", 7), ContentKind::kUnknown},
      {"a.txt", "\xC3\x28 broken", ContentKind::kUnknown},
      {"a.docx", "", ContentKind::kEmpty},
      // An Excel 4 worksheet stream; a BOF id with an absurd length is not one.
      {"a.xls", std::string("\x09\x04\x06\x00\x00\x00\x10\x00", 8), ContentKind::kBiffStream},
      {"a.xls", std::string("\x09\x04\xFF\x00\x00\x00\x10\x00", 8), ContentKind::kUnknown},
  };
  for (const auto& c : cases) {
    WriteFile(dir / c.name, c.bytes);
    EXPECT_EQ(SniffFile((dir / c.name).string()), c.kind) << c.bytes;
  }
  EXPECT_EQ(SniffFile((dir / "missing.docx").string()), ContentKind::kMissing);
}

TEST(LibreOfficeSniffer, RandomBytesAreNeverADocument) {
  const auto dir = FreshDir("sniff-random");
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    std::string bytes(1 + random() % 5000, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    WriteFile(dir / "r.docx", bytes);
    EXPECT_EQ(SniffFile((dir / "r.docx").string()), ContentKind::kUnknown) << round;
  }
}

TEST(LibreOfficeSniffer, DamagedZipDirectoryIsNotTrusted) {
  const auto dir = FreshDir("sniff-damaged");
  std::string zip = Zip({"[Content_Types].xml", "word/document.xml"});
  // Central directory offset pointing past the end of the file.
  std::string bad = zip;
  bad[bad.size() - 6] = '\xFF';
  bad[bad.size() - 5] = '\xFF';
  WriteFile(dir / "a.docx", bad);
  EXPECT_EQ(SniffFile((dir / "a.docx").string()), ContentKind::kUnknown);
  // Cut off in the middle of the directory.
  WriteFile(dir / "b.docx", zip.substr(0, zip.size() - 40));
  EXPECT_EQ(SniffFile((dir / "b.docx").string()), ContentKind::kUnknown);
}

TEST(LibreOfficeWebPageLayout, RenamesPicturesAndListsThemInTheFileList) {
  const auto staging = FreshDir("layout-staging");
  const auto root = FreshDir("layout-root");
  WriteFile(staging / "page.html",
            "<html><head><title>t</title></head><body>\xED\x95\x9C"
            "<img src=\"page_html_9f.png\"><IMG SRC='page_html_1a.jpg'>"
            "<img src=\"page_html_9f.png\"><a href=\"http://example.com/x.png\">x</a>"
            "<img data-src=\"page_html_1a.jpg\"><img src=\"../escape.png\"></body></html>");
  WriteFile(staging / "page_html_9f.png", "png");
  WriteFile(staging / "page_html_1a.jpg", "jpg");
  // Leftovers of an older conversion are replaced.
  fs::create_directories(root / "import.files");
  WriteFile(root / "import.files" / "image009.png", "old");

  const auto result = platform::libreoffice::InstallWebPage(staging / "page.html", root / "import.html");
  EXPECT_EQ(result.supportFiles, (std::vector<std::string>{"image001.png", "image002.jpg"}));
  const std::string html = ReadFile(root / "import.html");
  EXPECT_NE(html.find("<img src=\"import.files/image001.png\"><IMG SRC='import.files/image002.jpg'>"
                      "<img src=\"import.files/image001.png\">"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("href=\"http://example.com/x.png\""), std::string::npos);
  EXPECT_NE(html.find("data-src=\"page_html_1a.jpg\""), std::string::npos);
  EXPECT_NE(html.find("src=\"../escape.png\""), std::string::npos);
  EXPECT_NE(html.find("\xED\x95\x9C"), std::string::npos);
  EXPECT_EQ(ReadFile(root / "import.files" / "image001.png"), "png");
  EXPECT_EQ(ReadFile(root / "import.files" / "image002.jpg"), "jpg");
  EXPECT_FALSE(fs::exists(root / "import.files" / "image009.png"));
  EXPECT_FALSE(fs::exists(staging / "page_html_9f.png"));

  const auto names = ScanFileList(ReadFile(root / "import.files" / "filelist.xml"));
  EXPECT_EQ(names, (std::vector<std::string>{"image001.png", "image002.jpg", "filelist.xml"}));
  // Nothing but the page and its folder is left in the export root.
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(root)) entries.push_back(e.path().filename().string());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"import.files", "import.html"}));
}

TEST(LibreOfficeWebPageLayout, MissingTargetFolderFailsAndLeavesNothing) {
  const auto staging = FreshDir("layout-missing");
  WriteFile(staging / "page.html", "<html><body>x</body></html>");
  EXPECT_THROW(platform::libreoffice::InstallWebPage(staging / "page.html", staging / "no" / "import.html"),
               std::runtime_error);
  EXPECT_FALSE(fs::exists(staging / "no"));
}

// A page saved from the editing window: the office's pictures move into the
// support folder, linked pictures stay with the page, and the page goes back
// into its code page without losing a character.
TEST(LibreOfficeEditedPage, SavedPageTakesWordsLayoutAndItsCodePage) {
  const auto root = FreshDir("edited-page");
  const auto elsewhere = FreshDir("edited-elsewhere");
  WriteFile(elsewhere / "linked pic.png", "linked");
  fs::create_directories(root / "import.files");
  WriteFile(root / "import.files" / "image001.png", "kept");
  WriteFile(root / "import_html_5b.png", "pasted");
  WriteFile(root / "pqe_screen_capture.png", "capture");
  // \xE0\xB8\x81 (a Thai letter) is not in code page 949.
  WriteFile(root / "import.html",
            "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\"/></head>"
            "<body lang=\"en-US\"><p>\xED\x95\x9C \xE0\xB8\x81</p><img src=\"import_html_5b.png\">"
            "<img src=\"import.files/image001.png\"><img src=\"file:///" + (elsewhere / "linked%20pic.png").string().substr(1) +
                "\"><img src=\"pqe_screen_capture.png\"></body></html>");

  platform::libreoffice::FinishSavedPage(root / "import.html", 949);

  const std::string page = ReadFile(root / "import.html");
  EXPECT_NE(page.find("charset=ks_c_5601-1987"), std::string::npos) << page;
  EXPECT_NE(page.find("<p>\xC7\xD1 &#3585;</p>"), std::string::npos) << page;
  EXPECT_NE(page.find("<div class=WordSection1>"), std::string::npos);
  EXPECT_EQ(ScanFileList(ReadFile(root / "import.files" / "filelist.xml")),
            (std::vector<std::string>{"image002.png", "image001.png", "image003.png", "filelist.xml"}));
  EXPECT_NE(page.find("src=\"import.files/image002.png\"><img src=\"import.files/image001.png\"><img "
                      "src=\"import.files/image003.png\"><img src=\"pqe_screen_capture.png\">"),
            std::string::npos)
      << page;
  EXPECT_EQ(ReadFile(root / "import.files" / "image002.png"), "pasted");
  EXPECT_EQ(ReadFile(root / "import.files" / "image001.png"), "kept");
  EXPECT_EQ(ReadFile(root / "import.files" / "image003.png"), "linked");
  EXPECT_FALSE(fs::exists(root / "import_html_5b.png"));
  EXPECT_EQ(ReadFile(root / "pqe_screen_capture.png"), "capture") << "a file not of the office's was taken";
  EXPECT_EQ(ReadFile(elsewhere / "linked pic.png"), "linked");

  // Saved again, the same pictures keep their names.
  platform::libreoffice::FinishSavedPage(root / "import.html", 949);
  EXPECT_EQ(ScanFileList(ReadFile(root / "import.files" / "filelist.xml")),
            (std::vector<std::string>{"image002.png", "image001.png", "image003.png", "filelist.xml"}));
  EXPECT_EQ(ReadFile(root / "import.html").find("<div class=WordSection1>\n<div"), std::string::npos)
      << "the body was wrapped twice";
}

TEST(LibreOfficeEditedPage, APageIsReadInItsCodePageAndDeclaredUtf8) {
  const struct {
    std::string bytes;
    platform::CodePage code_page;
    std::string expected_body;
  } cases[] = {
      {"<meta charset=\"euc-kr\"><p>\xC7\xD1</p>", 949, "<meta charset=\"utf-8\"><p>\xED\x95\x9C</p>"},
      // What the page declares does not count: the code page Word is given does.
      {"<meta http-equiv=Content-Type content=\"text/html; charset=windows-1252\"><p>\xC7\xD1</p>", 949,
       "<meta http-equiv=Content-Type content=\"text/html; charset=utf-8\"><p>\xED\x95\x9C</p>"},
      {"\xEF\xBB\xBF<p>\xED\x95\x9C</p>", 65001, "<p>\xED\x95\x9C</p>"},
      {"<p>\xFF</p>", 65001, "<p>\xEF\xBF\xBD</p>"},
      {"<p>\xE9</p>", 1252, "<p>\xC3\xA9</p>"},
  };
  const std::string declaration = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">";
  for (const auto& c : cases) {
    EXPECT_EQ(platform::libreoffice::PageForEditing(c.bytes, c.code_page), declaration + c.expected_body)
        << c.code_page;
  }
  EXPECT_EQ(platform::libreoffice::DeclareCharset("<META CHARSET=x><meta name=a><meta charset='y'>", "z"),
            "<META CHARSET=z><meta name=a><meta charset='z'>");
  EXPECT_EQ(platform::libreoffice::EncodeWithReferences("a\xF0\x9F\x98\x80\xC3\xA9", 1252), "a&#128512;\xE9");
}

}  // namespace
