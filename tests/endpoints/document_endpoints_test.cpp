// The import and export phases through the endpoint table, with a scripted
// file chooser and the recording automation server standing for the office.
#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/base64.hpp"
#include "endpoints/endpoint_table.hpp"
#include "endpoints/export_phase.hpp"
#include "export/export_paths.hpp"
#include "platform/file_chooser.hpp"
#include "platform/top_level_windows.hpp"
#include "tests/office/office_fixture.hpp"
#include "tests/platform/codepage_test_locales.hpp"

namespace {

namespace fs = std::filesystem;
using office_test::OfficeTest;

// Answers every chooser with the path it was given, and remembers what it
// was asked.
class ScriptedChooser : public platform::FileChooser {
 public:
  std::string ChooseFile(const std::string& title, const std::vector<platform::FileFilter>& filters) override {
    ++calls;
    last_title = title;
    last_filters = filters;
    return answer;
  }
  std::string answer;
  int calls = 0;
  std::string last_title;
  std::vector<platform::FileFilter> last_filters;
};

// A desktop without windows: the raise thread finds nothing to raise.
class NoWindows : public platform::TopLevelWindows {
 public:
  platform::WindowId FindByTitle(const std::string&) override { return 0; }
  std::optional<platform::WindowRect> Rect(platform::WindowId) override { return std::nullopt; }
  std::optional<platform::WindowRect> ParentRect(platform::WindowId) override { return std::nullopt; }
  bool SetTitle(platform::WindowId, const std::string&) override { return false; }
  bool MoveTopmost(platform::WindowId, int, int) override { return false; }
  bool Activate(platform::WindowId) override { return false; }
};

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(text, value)) << text;
  return value;
}

std::vector<std::string> Keys(const Json::Value& object) { return object.getMemberNames(); }

// A laid-out body as it goes on the wire, its files read now.
std::string TextOf(const ReplyBody& body) {
  std::string text;
  EXPECT_TRUE(body.ToText(text));
  return text;
}

class DocumentEndpoints : public OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    auto chooser = std::make_unique<ScriptedChooser>();
    chooser_ = chooser.get();
    platform::FileChooser::SetForTesting(std::move(chooser));
    platform::TopLevelWindows::SetForTesting(std::make_unique<NoWindows>());
    // The office layer's own dialog is not the one these requests use.
    dlg_.reset();
  }
  void TearDown() override {
    platform::FileChooser::SetForTesting(nullptr);
    platform::TopLevelWindows::SetForTesting(nullptr);
    OfficeTest::TearDown();
  }

  // Serves `path` with the given parameters and returns the reply body.
  std::string Serve(const std::string& path, const std::vector<std::pair<std::string, std::string>>& params = {}) {
    RequestTree tree;
    for (const auto& [key, value] : params) tree.put(RequestTree::path_type(key, '\0'), value);
    RequestTree fields;
    fields.put("http_method", "GET");
    fields.put("http_uri", path);
    std::string header;
    ReplyBody body;
    HandleEndpointRequest(tree, fields, header, body);
    EXPECT_EQ(g_pMainDlg, nullptr) << "a dialog object outlived " << path;
    return TextOf(body);
  }

  Json::Value Import(const std::string& chosen, const std::string& kind = "doc",
                     const std::string& title = "Pick") {
    chooser_->answer = chosen;
    return Parse(Serve("/import_file_as_html", {{"file_filter", kind}, {"dialog_title", title}}));
  }

  void WriteExport(const std::string& relative, const std::string& bytes) {
    const fs::path path = fs::path(root_) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // Word's SaveAs writes this page with one picture and one text file.
  void WordWritesAPage() {
    server_->SetAction("Word.Application>6>20", 376, [this](const Automation::Invocation&) {
      WriteExport("import.html",
                  "<html><body lang=KO><div class=WordSection1><p>\xED\x95\x9C</p>"
                  "<img src=\"import.files/image001.png\"></div></body></html>");
      WriteExport("import.files/image001.png", "\x89PNG-bytes");
      WriteExport("import.files/notes.txt", "note");
      WriteExport("import.files/filelist.xml",
                  "<xml><o:File HRef=\"image001.png\"/><o:File HRef=\"notes.txt\"/>"
                  "<o:File HRef=\"filelist.xml\"/></xml>");
    });
  }

  ScriptedChooser* chooser_ = nullptr;
};

TEST_F(DocumentEndpoints, RefusedImportsSayWhyWithExactlyTheirMembers) {
  const std::string docx = WriteInput("a.docx"), xlsx = WriteInput("b.xlsx"), pptx = WriteInput("c.pptx");
  const std::string bare = WriteInput("README"), targz = WriteInput("x.tar.gz"), zip = WriteInput("y.zip");
  struct Case {
    std::string chosen;
    const char* unavailable;  // ProgID that cannot start
    std::string filename;
    const char* mime_type;    // nullptr: no such member
    const char* message;
  } cases[] = {
      {"", nullptr, "", nullptr, "no valid file selected!"},
      {tmp_ + "/missing.docx", nullptr, "", nullptr, "no valid file selected!"},
      {bare, nullptr, bare, nullptr, "no valid file selected!"},
      {targz, nullptr, targz, "", "no valid office document file selected!"},
      {zip, nullptr, zip, "application/zip", "no valid office document file selected!"},
      {docx, "Word.Application", docx,
       "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
       "no office word application installed!"},
      {xlsx, "Excel.Application", xlsx, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
       "no office excel application installed!"},
      {pptx, "PowerPoint.Application", pptx,
       "application/vnd.openxmlformats-officedocument.presentationml.presentation",
       "no office powerpoint/msword application installed!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    if (c.unavailable) server_->SetUnavailable(c.unavailable);
    const Json::Value reply = Import(c.chosen);
    if (c.unavailable) server_->SetUnavailable(c.unavailable, false);
    std::vector<std::string> keys = {"filename", "message", "success"};
    if (c.mime_type) keys = {"filename", "message", "mime_type", "success"};
    EXPECT_EQ(Keys(reply), keys);
    EXPECT_FALSE(reply["success"].asBool());
    EXPECT_EQ(reply["filename"].asString(), c.filename);
    EXPECT_EQ(reply["message"].asString(), c.message);
    if (c.mime_type) {
      EXPECT_EQ(reply["mime_type"].asString(), c.mime_type);
    }
  }
  // A PowerPoint import starts Word first, and both are tried.
  EXPECT_EQ(dialogs_->messages().back(), "Cannot open the MS PowerPoint");
}

TEST_F(DocumentEndpoints, OverlongParametersAreRefusedBeforeAnyChooserOpens) {
  const std::string korean = "\xED\x95\x9C";  // three bytes, one UTF-16 unit
  std::string title_units, title_bytes;
  for (int i = 0; i < 2048; ++i) title_units += 'a';
  for (int i = 0; i < 1366; ++i) title_bytes += korean;  // 4098 bytes, 1366 units
  const struct {
    std::string kind, title, named;
  } cases[] = {
      {std::string(260, 'd'), "t", "file_filter"},
      {"doc", title_units, "dialog_title"},
      {"doc", title_bytes, "dialog_title"},
  };
  for (const auto& c : cases) {
    chooser_->calls = 0;
    const Json::Value reply =
        Parse(Serve("/import_file_as_html", {{"file_filter", c.kind}, {"dialog_title", c.title}}));
    EXPECT_FALSE(reply["success"].asBool());
    EXPECT_NE(reply["message"].asString().find(c.named), std::string::npos) << reply;
    EXPECT_EQ(chooser_->calls, 0);
  }
  // The longest accepted ones reach the chooser whole.
  Import("", std::string(259, 'd'), std::string(2047, 'a'));
  EXPECT_EQ(chooser_->calls, 1);
  EXPECT_EQ(chooser_->last_title, std::string(2047, 'a'));
  EXPECT_THROW(Import("", "doc", "\xC3("), std::range_error);
}

TEST_F(DocumentEndpoints, TheKindPreselectsAFilterAndTheTitleNamesTheChooser) {
  const char* const names[] = {"워드, 엑셀 문서 (*.docs,*.doc,*.xlsx,*.xls)", "워드 문서 (*.docs,*.doc)",
                                "엑셀 문서 (*.xlsx,*.xls)", "HTML 문서(*.html,*.htm)", "TEXT 문서(*.txt)"};
  const struct {
    const char* kind;
    int first;  // the filter offered first, preselected
  } cases[] = {
      {"", 1}, {"docx", 2}, {"xlsx", 3}, {"ppt", 4}, {"pptslide", 4}, {"pdf", 5},
      {"txt", 1}, {"hwp", 1},  // filters 6 and 9 are past the list: filter 1 stays
  };
  for (const auto& c : cases) {
    Import("", c.kind, "\xEC\x97\xB4\xEA\xB8\xB0");
    ASSERT_EQ(chooser_->last_filters.size(), 5u) << c.kind;
    EXPECT_EQ(chooser_->last_filters[0].name, names[c.first - 1]) << c.kind;
    // The others follow in their own order.
    EXPECT_EQ(chooser_->last_filters[1].name, names[c.first == 1 ? 1 : 0]) << c.kind;
    EXPECT_EQ(chooser_->last_title, "\xEC\x97\xB4\xEA\xB8\xB0");
  }
  EXPECT_EQ(chooser_->last_filters[0].patterns, (std::vector<std::string>{"*.docx", "*.doc", "*.xlsx", "*.xls"}));
  Import("", "doc", "");
  EXPECT_EQ(chooser_->last_title, "Open");
}

TEST_F(DocumentEndpoints, AWordImportAnswersThePageItsFilesAndLeavesNothingBehind) {
  WordWritesAPage();
  const std::string chosen = WriteInput("REPORT.DOCX");
  const Json::Value reply = Import(chosen);

  EXPECT_TRUE(reply["success"].asBool()) << reply;
  EXPECT_NE(reply["html_data"].asString().find("\xED\x95\x9C"), std::string::npos);
  EXPECT_EQ(reply["html_body_data"].asString(),
            "<div class=WordSection1><p>\xED\x95\x9C</p><img src=\"import.files/image001.png\"></div>");
  const Json::Value filelist = reply["filelist"];
  ASSERT_EQ(filelist.size(), 4u);
  EXPECT_EQ(filelist[0].asString(), "index.html");
  EXPECT_EQ(filelist[1].asString(), "image001.png");
  EXPECT_EQ(filelist[3].asString(), "filelist.xml");

  const Json::Value picture = reply["image_files"]["image001.png"];
  EXPECT_EQ(picture["base64"].asString(), Base64Encode(std::string("\x89PNG-bytes")));
  EXPECT_EQ(picture["tag"].asString(), "img");
  EXPECT_EQ(picture["mime_type"].asString(), "image/png");
  EXPECT_EQ(picture["full_filename"].asString(), "import.files/image001.png");
  EXPECT_EQ(reply["text_files"]["notes.txt"]["text"].asString(), "note");
  EXPECT_EQ(reply["text_files"]["filelist.xml"]["mime_type"].asString(), "text/xml");

  EXPECT_EQ(reply["local_filename"].asString(), chosen);
  EXPECT_EQ(reply["local_mime_type"].asString(),
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
  EXPECT_EQ(reply["local_open_app"].asString(), "msword");
  EXPECT_FALSE(reply["purge_result"].asString().empty());
  EXPECT_TRUE(ExportEntries().empty()) << "left in the export folder: " << ExportEntries()[0];
}

TEST_F(DocumentEndpoints, AFailedConversionNamesFileAndStepAndLeavesNoPage) {
  // A page of an earlier request must not pass for this import's result.
  WriteExport("import.html", "<p>stale</p>");
  WriteExport("import.files/filelist.xml", "<o:File HRef=\"old.png\"/>");
  server_->SetFailure("Word.Application>6", 20, Automation::DISP_E_EXCEPTION, "cannot open");
  const std::string chosen = WriteInput("broken.docx");
  const Json::Value reply = Import(chosen);

  EXPECT_FALSE(reply["success"].asBool());
  const std::string message = reply["message"].asString();
  EXPECT_NE(message.find(chosen), std::string::npos) << message;
  EXPECT_NE(message.find("msword 1"), std::string::npos) << message;
  EXPECT_NE(message.find("cannot open"), std::string::npos) << message;
  EXPECT_TRUE(ExportEntries().empty());

  // The next import starts afresh; a text file is copied as it is.
  const std::string text = WriteInput("plain.TXT", "just text\n");
  const Json::Value next = Import(text);
  EXPECT_TRUE(next["success"].asBool());
  EXPECT_EQ(next["html_data"].asString(), "just text\n");
  EXPECT_EQ(next["local_open_app"].asString(), "asitis");
  EXPECT_EQ(next["local_mime_type"].asString(), "text/plain");
}

TEST(ExportPhaseRules, TheLabelGoesToTheShortestDecodingUtf8WinningTies) {
  const struct {
    std::size_t utf8, our, acp;
    bool our_known;
    PageLabel label;
  } cases[] = {
      {10, 10, 10, true, PageLabel::kUtf8},  // ASCII: all equal
      {10, 12, 12, true, PageLabel::kUtf8},  // UTF-8 page: code pages count more
      {12, 8, 8, true, PageLabel::kAcp},     // equal code pages: "acp"
      {12, 7, 8, true, PageLabel::kOur},
      {12, 9, 8, true, PageLabel::kAcp},
      {12, 0, 12, false, PageLabel::kUtf8},  // an unknown code page never wins
      {12, 0, 8, false, PageLabel::kAcp},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChoosePageLabel(c.utf8, c.our, c.our_known, c.acp), c.label)
        << c.utf8 << " " << c.our << " " << c.acp;
  }
}

TEST(ExportPhaseRules, BodyFragmentAndReferringTag) {
  const struct {
    const char* page;
    const char* fragment;
  } bodies[] = {
      {"<html><body lang=EN><div>x</div></body>", "<div>x</div>"},
      {"<body><div>x</div></body>", ""},                    // no "<body lang"
      {"<body lang=EN><p>x</p></body><div>late</div>", ""},  // "<div" after "</body>"
      {"<body lang=EN><div>x</div>", ""},                   // no "</body>"
      {"<div>before</div><body lang=KO>y<div>z</body>", "<div>z"},
  };
  for (const auto& b : bodies) EXPECT_EQ(BodyFragment(b.page), b.fragment) << b.page;

  const std::string far = "<img " + std::string(120, ' ') + "src=\"a.png\">";
  const struct {
    std::string page, name, tag;
  } tags[] = {
      {"<p><img src=\"import.files/a.png\"></p>", "a.png", "img"},
      {"<IMG SRC=a.png>", "a.png", "img"},
      {"<v:imagedata src=\"import.files/a.png\" o:title=\"\"/>", "a.png", "v:imagedata"},
      {"<V:IMAGEDATA src=a.png>", "a.png", "v:imagedata"},
      {"<a href=a.png>", "a.png", ""},
      {"a.png at the very start", "a.png", ""},
      {far, "a.png", ""},                                  // the "<" is over 100 bytes back
      {"<img src=b.png>", "a.png", ""},                     // not in the page
      {"<img src=\"a.png\"><v:imagedata src=a.png>", "a.png", "img"},  // the first occurrence counts
  };
  for (const auto& t : tags) EXPECT_EQ(ReferringTag(t.page, t.name), t.tag) << t.page;
}

TEST_F(DocumentEndpoints, ExportAsHtmlListsFilesInOrderAndDeletesNothing) {
  WriteExport("import.html", "<html><body lang=EN><div>page</div></body></html>");
  WriteExport("import.files/filelist.xml",
              "<o:File HRef=\"b.png\"/><o:File HRef=\"" + std::string(260, 'n') +
                  "\"/><o:File HRef=\"a.css\"/><o:File HRef=\"filelist.xml\"/>");
  WriteExport("import.files/b.png", "png");
  const Json::Value reply = Parse(Serve("/export_as_html"));

  EXPECT_TRUE(reply["success"].asBool());
  EXPECT_EQ(Keys(reply), (std::vector<std::string>{"filelist", "html_body_data", "html_data", "success"}));
  std::vector<std::string> names;
  for (const Json::Value& name : reply["filelist"]) names.push_back(name.asString());
  // A name of 260 bytes or more is passed over.
  EXPECT_EQ(names, (std::vector<std::string>{"index.html", "b.png", "a.css", "filelist.xml"}));
  EXPECT_TRUE(fs::exists(root_ + "/import.html"));
  EXPECT_TRUE(fs::exists(root_ + "/import.files/b.png"));

  // Without the page, the walk stops at the first listed name.
  fs::remove(root_ + "/import.html");
  const Json::Value absent = Parse(Serve("/export_as_html"));
  EXPECT_FALSE(absent["success"].asBool());
  EXPECT_EQ(absent["filelist"].size(), 2u);
  EXPECT_EQ(absent["html_data"].asString(), "");
}

TEST_F(DocumentEndpoints, SlidePicturesWithAGapAreCollectedAndPurged) {
  for (int n : {1, 2, 4}) WriteExport("import_pptslides/Slide" + std::to_string(n) + ".JPG", "jpg" + std::to_string(n));
  RequestTree params;
  params.put("file_filter", "pptslide");
  const Json::Value reply = Parse(TextOf(RunExportPhase("/import_file_as_html", params)));

  const Json::Value slides = reply["image_files"];
  EXPECT_EQ(Keys(slides), (std::vector<std::string>{"SLIDE1.JPG", "SLIDE2.JPG", "SLIDE4.JPG"}));
  EXPECT_EQ(slides["SLIDE4.JPG"]["slide_num"].asInt(), 4);
  EXPECT_EQ(slides["SLIDE4.JPG"]["full_filename"].asString(), "SLIDE4.JPG");
  EXPECT_EQ(slides["SLIDE4.JPG"]["mime_type"].asString(), "image/jpeg");
  EXPECT_EQ(slides["SLIDE2.JPG"]["base64"].asString(), Base64Encode(std::string("jpg2")));
  EXPECT_FALSE(fs::exists(root_ + "/import_pptslides"));
}

TEST_F(DocumentEndpoints, PagesAreAnsweredInUtf8WhateverTheirCodePage) {
  const std::string korean_utf8 = "<p>\xED\x95\x9C\xEA\xB5\xAD</p>";
  const std::string korean_949 = "<p>\xC7\xD1\xB1\xB9</p>";
  const struct {
    const char* locale;
    std::string page;
    const char* code_page;
    std::string expected;
  } cases[] = {
      {"en_US.UTF-8", korean_utf8, "", korean_utf8},
      {"en_US.UTF-8", "<p>plain</p>", "949", "<p>plain</p>"},
      {"en_US.UTF-8", korean_949, "949", korean_utf8},         // "our"
      {"ko_KR.EUC-KR", korean_949, "949", korean_utf8},    // "acp", equal counts
      {"ko_KR.EUC-KR", korean_949, "0", korean_utf8},
      {"ko_KR.EUC-KR", korean_utf8, "949", korean_utf8},   // UTF-8 stays UTF-8
  };
  for (const auto& c : cases) {
    test_locales::ScopedLocale locale(c.locale);
    if (!locale.ok()) GTEST_SKIP() << "locale " << c.locale << " cannot be built here";
    WriteExport("import.html", c.page);
    const Json::Value reply = Parse(Serve("/export_as_html", {{"html_codepage", c.code_page}}));
    EXPECT_EQ(reply["html_data"].asString(), c.expected) << c.locale << " " << c.code_page;
  }
}

}  // namespace
