// Importing documents end to end: the real Docklane on a private Xvfb, its
// open-file chooser (zenity) answered with xdotool as a user would, the real
// LibreOffice converting, and the reply read as the editor page reads it.
// Also "/export_as_html" over pages written into the export folder by hand,
// and the whole shared corpus through one Docklane.
#include <json/json.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/desktop_fixture.hpp"
#include "tests/platform/codepage_test_locales.hpp"

namespace e2e {
namespace {

class ImportDesktop : public DesktopTest {};

TEST_F(ImportDesktop, AKoreanWordDocumentComesBackWithItsTableAndBothPictures) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const std::string path = StageCopy(Document("korean_report.docx"), "korean_report.docx");

  const ImportReply reply = Import(path, "doc");
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  ASSERT_TRUE(json["success"].asBool()) << json.toStyledString();

  const std::string page = json["html_data"].asString();
  const std::string text = VisibleText(page);
  EXPECT_NE(text.find(kKoreanBody), std::string::npos) << page.substr(0, 4000);
  EXPECT_NE(text.find("분기 보고서"), std::string::npos);
  EXPECT_NE(Lower(page).find("<table"), std::string::npos);
  EXPECT_NE(text.find("사과"), std::string::npos) << "a table cell is missing";
  const std::string body = json["html_body_data"].asString();
  EXPECT_FALSE(body.empty());
  EXPECT_NE(page.find(body), std::string::npos) << "the body is not part of the page";
  EXPECT_NE(VisibleText(body).find(kKoreanBody), std::string::npos);

  const std::map<std::string, std::string> pictures = CheckPictures(json["image_files"]);
  ASSERT_EQ(pictures.size(), 2u) << json["image_files"].toStyledString().substr(0, 2000);
  EXPECT_NE(pictures.begin()->second, std::next(pictures.begin())->second)
      << "the two different pictures came back as one";
  for (const std::string& name : Keys(json["image_files"])) {
    const Json::Value& entry = json["image_files"][name];
    EXPECT_EQ(entry["tag"].asString(), "img") << name;
    EXPECT_EQ(entry["full_filename"].asString(), "import.files/" + name);
    EXPECT_NE(page.find(name), std::string::npos) << "the page does not refer to " << name;
  }

  const std::vector<std::string> filelist = Names(json["filelist"]);
  ASSERT_FALSE(filelist.empty());
  EXPECT_EQ(filelist.front(), "index.html");
  for (const auto& [name, bytes] : pictures) EXPECT_TRUE(Contains(filelist, name)) << name;
  EXPECT_TRUE(Contains(filelist, "filelist.xml"));
  EXPECT_TRUE(json["text_files"].isNull() || json["text_files"].isObject());

  EXPECT_EQ(json["purge_result"].asString(), kPurged);
  EXPECT_EQ(json["local_filename"].asString(), path);
  EXPECT_EQ(json["local_mime_type"].asString(), kDocxType);
  EXPECT_EQ(json["local_open_app"].asString(), "msword");
  ExpectExportFolderClean("the import");
  ExpectNoWordDialog();
  RecordProperty("seconds", std::to_string(reply.seconds));
}

// Documents of every conversion kind; each must come back as a page holding
// its text, recorded as the last import.
struct ConvertedCase {
  const char* label;
  const char* source;    // in tests/e2e/documents
  const char* chosen;    // the name it is chosen under
  const char* filter;
  const char* kind;      // local_open_app
  const char* mime_type;
  std::vector<std::string> texts;
  int pictures;  // expected image entries, or -1 to leave them unchecked
};

class ImportConverted : public ImportDesktop, public ::testing::WithParamInterface<ConvertedCase> {};

TEST_P(ImportConverted, ComesBackAsAPageWithItsText) {
  const ConvertedCase& c = GetParam();
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const std::string path = StageCopy(Document(c.source), c.chosen);

  const ImportReply reply = Import(path, c.filter);
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  ASSERT_TRUE(json["success"].asBool()) << json.toStyledString().substr(0, 3000);
  const std::string page = json["html_data"].asString();
  for (const std::string& text : c.texts) {
    EXPECT_NE(VisibleText(page).find(text), std::string::npos)
        << "\"" << text << "\" missing in\n" << page.substr(0, 3000);
  }
  if (c.pictures >= 0) {
    EXPECT_EQ(CheckPictures(json["image_files"]).size(), static_cast<std::size_t>(c.pictures));
  }
  for (const std::string& name : Keys(json["image_files"])) {
    EXPECT_EQ(name.rfind("SLIDE", 0), std::string::npos) << "a slide picture for a web page import";
  }
  const std::vector<std::string> filelist = Names(json["filelist"]);
  ASSERT_FALSE(filelist.empty());
  EXPECT_EQ(filelist.front(), "index.html");
  EXPECT_EQ(json["purge_result"].asString(), kPurged);
  EXPECT_EQ(json["local_filename"].asString(), path);
  EXPECT_EQ(json["local_mime_type"].asString(), c.mime_type);
  EXPECT_EQ(json["local_open_app"].asString(), c.kind);
  ExpectExportFolderClean("the import");
  RecordProperty("seconds", std::to_string(reply.seconds));
}

const std::vector<std::string> kReportTexts = {kKoreanBody, "분기 보고서", "사과", "42"};

INSTANTIATE_TEST_SUITE_P(
    ImportDocuments, ImportConverted,
    ::testing::Values(
        ConvertedCase{"doc", "korean_report.doc", "korean_report.doc", "doc", "msword", "application/msword",
                      kReportTexts, 2},
        ConvertedCase{"rtf", "korean_report.rtf", "korean_report.rtf", "rtf", "msword", "application/rtf",
                      kReportTexts, 2},
        // The extension is lower-cased before it is looked up.
        ConvertedCase{"capital_docx", "korean_report.docx", "REPORT.DOCX", "doc", "msword", kDocxType.c_str(),
                      kReportTexts, 2},
        ConvertedCase{"xlsx", "budget.xlsx", "budget.xlsx", "xls", "excel",
                      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                      {"영업부", "개발부", "3400", "2950"}, -1},
        // Any filter but exactly "pptslide" asks for one page of all slides.
        ConvertedCase{"pptx_page", "three_slides.pptx", "three_slides.pptx", "ppt", "powerpoint",
                      "application/vnd.openxmlformats-officedocument.presentationml.presentation",
                      {"첫째 슬라이드 제목", "둘째 슬라이드 제목", "셋째 슬라이드 제목"}, -1}),
    [](const ::testing::TestParamInfo<ConvertedCase>& info) { return std::string(info.param.label); });

TEST_F(ImportDesktop, APresentationAsSlidePicturesGivesOneNumberedJpegPerSlide) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const std::string path = StageCopy(Document("three_slides.pptx"), "three_slides.pptx");

  const ImportReply reply = Import(path, "pptslide");
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  ASSERT_TRUE(json["success"].asBool()) << json.toStyledString().substr(0, 3000);
  const Json::Value& images = json["image_files"];
  EXPECT_EQ(Keys(images), (std::set<std::string>{"SLIDE1.JPG", "SLIDE2.JPG", "SLIDE3.JPG"}))
      << images.toStyledString().substr(0, 2000);
  const std::map<std::string, std::string> pictures = CheckPictures(images);
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "SLIDE" + std::to_string(n) + ".JPG";
    const Json::Value& entry = images[name];
    EXPECT_EQ(entry["slide_num"].asInt(), n) << name;
    EXPECT_TRUE(entry["slide_num"].isIntegral()) << name;
    EXPECT_EQ(entry["full_filename"].asString(), name);
    EXPECT_EQ(entry["mime_type"].asString(), "image/jpeg");
    EXPECT_FALSE(entry.isMember("tag")) << name;
    if (pictures.count(name)) {
      EXPECT_EQ(PictureKind(pictures.at(name)), "jpeg") << name;
    }
  }
  if (pictures.size() == 3) {
    EXPECT_NE(pictures.at("SLIDE1.JPG"), pictures.at("SLIDE2.JPG")) << "two slides, one picture";
  }
  EXPECT_EQ(Names(json["filelist"]), std::vector<std::string>{"index.html"});
  EXPECT_EQ(json["purge_result"].asString(), kPurged);
  EXPECT_EQ(json["local_open_app"].asString(), "powerpoint");
  ExpectExportFolderClean("the slide import");
}

// Web pages and text are taken as they are, without the document engine.
struct AsIsCase {
  const char* label;
  const char* chosen;
  const char* mime_type;
  std::string bytes;
};

class ImportAsIs : public ImportDesktop, public ::testing::WithParamInterface<AsIsCase> {};

TEST_P(ImportAsIs, TheFileIsThePageByteForByte) {
  const AsIsCase& c = GetParam();
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const std::string path = Stage(c.chosen, c.bytes);

  const ImportReply reply = Import(path, "htm");
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  EXPECT_TRUE(json["success"].asBool());
  EXPECT_EQ(json["html_data"].asString(), c.bytes);
  EXPECT_EQ(Names(json["filelist"]), std::vector<std::string>{"index.html"});
  EXPECT_EQ(json["local_filename"].asString(), path);
  EXPECT_EQ(json["local_mime_type"].asString(), c.mime_type);
  EXPECT_EQ(json["local_open_app"].asString(), "asitis");
  EXPECT_EQ(ReadFile(path), c.bytes) << "the chosen file itself changed";
  ExpectExportFolderClean("the copy");
}

INSTANTIATE_TEST_SUITE_P(
    ImportPlainFiles, ImportAsIs,
    ::testing::Values(
        AsIsCase{"txt", "notes.txt", "text/plain", "첫 줄 " + kKoreanBody + "\r\nsecond line\ttab\n"},
        AsIsCase{"html", "page.html", "text/html",
                 "<html><head><meta charset=\"utf-8\"></head><body lang=KO><div><p>" + kKoreanBody +
                     "</p></div></body></html>\n"}),
    [](const ::testing::TestParamInfo<AsIsCase>& info) { return std::string(info.param.label); });

// Refusals: what the page is told when nothing importable was chosen.
struct RefusalCase {
  const char* label;
  const char* chosen;  // nullptr: the dialog is cancelled
  const char* title;   // the request's dialog_title
  const char* message;
  bool with_mime_type;
};

class ImportRefused : public ImportDesktop, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ImportRefused, RepliesWithTheReasonAndServesOn) {
  const RefusalCase& c = GetParam();
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  const std::string path = c.chosen ? StageCopy(Document("korean_report.docx"), c.chosen) : "";
  // An empty title still gives the chooser one it can be told apart by.
  const std::string shown = *c.title ? c.title : "Open";

  const ImportReply reply =
      c.chosen ? Import(path, "doc", c.title)
               : Request(ImportUrl("doc", c.title), [&](DialogDriver& driver) { return driver.Cancel(shown); });
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  std::set<std::string> keys = {"success", "filename", "message"};
  if (c.with_mime_type) keys.insert("mime_type");
  EXPECT_EQ(Keys(json), keys) << json.toStyledString();
  EXPECT_TRUE(json["success"].isBool() && !json["success"].asBool());
  EXPECT_EQ(json["filename"].asString(), path);
  EXPECT_EQ(json["message"].asString(), c.message);
  if (c.with_mime_type) {
    EXPECT_EQ(json["mime_type"].asString(), "");
  }
  ExpectStillServing();
  ExpectNoWordDialog();
}

INSTANTIATE_TEST_SUITE_P(
    ImportRefusals, ImportRefused,
    ::testing::Values(RefusalCase{"no_extension", "report_without_extension", "문서 고르기",
                                  "no valid file selected!", false},
                      // Judged by the last extension only.
                      RefusalCase{"tar_gz", "x.tar.gz", "문서 고르기", "no valid office document file selected!", true},
                      RefusalCase{"cancelled", nullptr, "", "no valid file selected!", false}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.label); });

TEST_F(ImportDesktop, RandomBytesNamedDocxFailAsJsonAndTheNextImportWorks) {
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;
  std::mt19937 random(20240611);
  std::string noise(24 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  const std::string path = Stage("garbage.docx", noise);

  const ImportReply reply = Import(path, "doc");
  ASSERT_IMPORT_REPLY(reply);
  const Json::Value& json = reply.json;
  EXPECT_TRUE(json["success"].isBool() && !json["success"].asBool()) << json.toStyledString().substr(0, 2000);
  EXPECT_FALSE(json["message"].asString().empty()) << json.toStyledString().substr(0, 2000);
  EXPECT_EQ(json["filename"].asString(), path);
  EXPECT_EQ(json["mime_type"].asString(), kDocxType);
  ExpectExportFolderClean("the failed conversion");
  ExpectStillServing();
  ExpectNoWordDialog();

  const std::string next = StageCopy(Document("korean_report.docx"), "after_garbage.docx");
  const ImportReply second = Import(next, "doc");
  ASSERT_IMPORT_REPLY(second);
  EXPECT_TRUE(second.json["success"].asBool()) << second.json.toStyledString().substr(0, 2000);
  EXPECT_NE(VisibleText(second.json["html_data"].asString()).find(kKoreanBody), std::string::npos);
  EXPECT_EQ(second.json["local_filename"].asString(), next);
}

// The document engine is found at a fixed program folder, not through PATH;
// it is hidden from one Docklane by mounting an empty file over its program
// in a mount namespace of that Docklane's own.
TEST_F(ImportDesktop, WithoutTheDocumentEngineEachKindIsRefusedWithItsMessage) {
  const std::string program = DL_E2E_OFFICE_PROGRAM;
  if (!Executable(program)) GTEST_SKIP() << "no document engine at " << program;
  if (!Executable("/usr/bin/unshare")) GTEST_SKIP() << "unshare is not installed";
  StartDisplay(true);
  if (HasFatalFailure() || IsSkipped()) return;
  // Probe first: without the right to mount, the test has nothing to show.
  Process probe("/usr/bin/unshare", home_.Environment(), home_.root() + "/probe",
                {"-m", "--propagation", "private", "/bin/sh", "-c", "mount --bind /dev/null \"$0\"", program});
  if (probe.WaitExit(milliseconds(10000)) != 0) {
    GTEST_SKIP() << "cannot hide the document engine in a mount namespace: " << probe.Stderr();
  }
  StartDocklane({}, {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                     "mount --bind /dev/null \"$0\" && exec \"$1\"", program});
  if (HasFatalFailure()) return;

  struct Case {
    const char* source;
    const char* filter;
    const char* message;
  };
  const Case cases[] = {
      {"korean_report.docx", "doc", "no office word application installed!"},
      {"budget.xlsx", "xls", "no office excel application installed!"},
      {"three_slides.pptx", "ppt", "no office powerpoint/msword application installed!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const std::string path = StageCopy(Document(c.source), c.source);
    int boxes = 0;
    const ImportReply reply = Request(ImportUrl(c.filter, kTitle), [&](DialogDriver& driver) {
      if (!driver.ChooseFile(kTitle, path)) return false;
      // Each engine that cannot be started is also told on the desktop, in
      // a box that closes itself only after a minute.
      while (driver.Cancel("Docklane", milliseconds(4000))) ++boxes;
      return true;
    });
    ASSERT_IMPORT_REPLY(reply);
    const Json::Value& json = reply.json;
    EXPECT_EQ(Keys(json), (std::set<std::string>{"success", "filename", "mime_type", "message"}))
        << json.toStyledString();
    EXPECT_FALSE(json["success"].asBool());
    EXPECT_EQ(json["message"].asString(), c.message);
    EXPECT_EQ(json["filename"].asString(), path);
    EXPECT_GE(boxes, 1) << "no message box told the user";
    RecordProperty(std::string("boxes_") + c.filter, boxes);
  }
  // Editing needs Word too: its box is told, and the page gets template B.
  const ImportReply box = Request("/edit_new_html?html_data=%3Cp%3Ex%3C%2Fp%3E", [&](DialogDriver& driver) {
    return driver.Cancel("Docklane", milliseconds(10000));
  });
  ASSERT_TRUE(box.http.ok);
  EXPECT_EQ(box.http.body, "{\n   \"message\" : \"MS Office Word Application not found\",\n   \"success\" : false\n}\n");
  ExpectStillServing();
}

// Where the chooser comes up, seen on the display. `state` is polled until
// `done` holds or five seconds have passed: the window manager moves and
// raises asynchronously.
WindowState SettledState(DialogDriver& driver, unsigned long window,
                         const std::function<bool(const WindowState&)>& done) {
  WindowState last;
  WaitUntil(
      [&] {
        const std::optional<WindowState> state = driver.Inspect(window);
        if (state) last = *state;
        return state && done(*state);
      },
      milliseconds(5000));
  return last;
}

std::string Describe(const WindowState& s) {
  std::ostringstream text;
  text << "title \"" << s.title << "\", outer " << s.outer_x << "," << s.outer_y << ", client " << s.client_x
       << "," << s.client_y << " (" << s.width << "x" << s.height << "), reparented " << s.reparented
       << ", above state " << s.state_above << ", topmost " << s.topmost
       << (s.covered_by.empty() ? "" : " (covered by " + s.covered_by + ")") << ", focused " << s.focused
       << ", active " << s.active;
  return text.str();
}

// The height is that of the chooser's client area: the frame around it is
// the window manager's and its size is the manager's choice.
TEST_F(ImportDesktop, TheChooserComesUpTitledAtHeight200AboveTheBrowserAndFocused) {
  StartDisplay(true);
  if (HasFatalFailure() || IsSkipped()) return;
  StandInWindow browser(display_->name(), "Editor page");
  ASSERT_NE(browser.id(), 0u);
  ASSERT_TRUE(ShowStandIn(browser));
  // As if the user had clicked into it.
  driver_->Activate(browser.id());
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::optional<WindowState> s = driver_->Inspect(browser.id());
        return s && s->focused;
      },
      milliseconds(5000)))
      << "the stand-in browser never had the focus, so the check below would prove nothing";
  StartDocklane();
  if (HasFatalFailure()) return;

  const std::string title = "가져올 문서를 고르세요 (워드)";
  WindowState seen;
  const ImportReply reply = Request(ImportUrl("doc", title), [&](DialogDriver& driver) {
    const unsigned long window = driver.WaitForWindow(title, milliseconds(15000));
    if (!window) return false;
    seen = SettledState(driver, window, [](const WindowState& s) {
      return s.client_y == 200 && s.state_above && s.topmost && s.focused && s.active;
    });
    // It stays there, and above the browser even when the user goes back
    // to the browser.
    driver.Activate(browser.id());
    std::this_thread::sleep_for(milliseconds(500));
    if (const std::optional<WindowState> later = driver.Inspect(window)) {
      EXPECT_EQ(later->client_y, 200) << "moved away again: " << Describe(*later);
      EXPECT_TRUE(later->topmost) << "the browser came up over it: " << Describe(*later);
    }
    return driver.Cancel(title);
  });
  RecordProperty("chooser", Describe(seen));
  EXPECT_EQ(seen.title, title);
  EXPECT_TRUE(seen.reparented) << "openbox did not frame the chooser";
  EXPECT_EQ(seen.client_y, 200) << Describe(seen);
  EXPECT_TRUE(seen.state_above) << Describe(seen);
  EXPECT_TRUE(seen.topmost) << Describe(seen);
  EXPECT_TRUE(seen.focused) << Describe(seen);
  EXPECT_TRUE(seen.active) << Describe(seen);
  ASSERT_IMPORT_REPLY(reply);
  EXPECT_EQ(reply.json["message"].asString(), "no valid file selected!");
}

// Without a window manager nothing frames the chooser, keeps it above others
// or tracks the active window; it must still end up at y = 200, on top and
// with the input focus, since moving, raising and focusing are plain X
// requests.
TEST_F(ImportDesktop, WithoutAWindowManagerTheChooserIsStillMovedAndRaised) {
  StartDisplay(false);
  if (HasFatalFailure() || IsSkipped()) return;
  StandInWindow browser(display_->name(), "Editor page");
  ASSERT_TRUE(ShowStandIn(browser));
  StartDocklane();
  if (HasFatalFailure()) return;

  WindowState seen;
  const ImportReply reply = Request(ImportUrl("doc", kTitle), [&](DialogDriver& driver) {
    const unsigned long window = driver.WaitForWindow(kTitle, milliseconds(15000));
    if (!window) return false;
    seen = SettledState(driver, window, [](const WindowState& s) { return s.client_y == 200 && s.topmost && s.focused; });
    return driver.Cancel(kTitle);
  });
  RecordProperty("chooser", Describe(seen));
  std::cout << "without a window manager: " << Describe(seen) << "\n";
  EXPECT_EQ(seen.title, kTitle);
  EXPECT_FALSE(seen.reparented);
  EXPECT_EQ(seen.client_y, 200) << Describe(seen);
  EXPECT_TRUE(seen.topmost) << Describe(seen);
  EXPECT_TRUE(seen.focused) << Describe(seen);
  ASSERT_IMPORT_REPLY(reply);
  EXPECT_EQ(reply.json["message"].asString(), "no valid file selected!");
}

// "/export_as_html" reads back what lies in the export folder: no dialog,
// no engine, no display.
class ImportExportPhase : public ImportDesktop {
 protected:
  void SetUp() override { ASSERT_FALSE(Listening(kPort)) << "something else already listens on port 3465"; }

  // Waits for the export root that Docklane creates at start.
  void WaitForExportRoot() {
    ASSERT_TRUE(WaitUntil([&] { return Exists(ExportRoot()); }, milliseconds(5000)));
  }

  Json::Value Export(const std::string& codepage) {
    const std::string url =
        codepage.empty() ? "/export_as_html" : WithQuery("/export_as_html", {{"html_codepage", codepage}});
    const HttpReply reply = HttpGet(url);
    Json::Value json;
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(ParseJson(reply.body, json)) << reply.body.substr(0, 2000);
    return json;
  }
};

struct PageCase {
  const char* label;
  const char* locale;    // LC_ALL of Docklane, built with localedef when needed
  int system_codepage;   // what that locale must give
  const char* codepage;  // html_codepage, "" for none
  std::string bytes;     // import.html as written
  std::string expected;  // html_data
};

class ImportExportPage : public ImportExportPhase, public ::testing::WithParamInterface<PageCase> {};

const std::string kUtf8Page =
    "<html><head><title>보고서</title></head><body lang=KO><div><p>" + kKoreanBody +
    "입니다. 가나다라마바사</p></div></body></html>";
// The same page in code page 949 (EUC-KR bytes for these syllables).
const std::string kCp949Page =
    "<html><head><title>\xBA\xB8\xB0\xED\xBC\xAD</title></head><body lang=KO><div><p>"
    "\xC7\xD1\xB1\xB9\xBE\xEE \xBA\xBB\xB9\xAE\xC0\xD4\xB4\xCF\xB4\xD9. "
    "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3\xB8\xB6\xB9\xD9\xBB\xE7</p></div></body></html>";
const std::string kAsciiPage =
    "<html><body lang=EN-US><div class=WordSection1><p>Plain ASCII page</p></div></body></html>";

TEST_P(ImportExportPage, ComesBackAsUtf8WithItsBodyAndTouchesNothing) {
  const PageCase& c = GetParam();
  if (std::string(c.locale) != "C" && std::string(c.locale) != "C.UTF-8" &&
      !test_locales::EnsureLocale(c.locale)) {
    GTEST_SKIP() << "the locale " << c.locale << " could not be built with localedef";
  }
  StartDocklane({std::string("LC_ALL=") + c.locale, "LOCPATH=" + test_locales::LocaleDir()});
  if (HasFatalFailure()) return;
  WaitForExportRoot();
  // Otherwise a case could pass through another decoding than it is meant to.
  Json::Value version;
  ASSERT_TRUE(ParseJson(HttpGet("/get_version_info").body, version));
  ASSERT_EQ(version["system_codepage"].asInt(), c.system_codepage) << "the locale did not take";
  const std::string page_path = ExportRoot() + "/import.html";
  ASSERT_TRUE(WriteFile(page_path, c.bytes));

  const Json::Value json = Export(c.codepage);
  EXPECT_TRUE(json["success"].asBool());
  EXPECT_EQ(json["html_data"].asString(), c.expected);
  const std::size_t div = c.expected.find("<div");
  const std::size_t end = c.expected.find("</body>");
  EXPECT_EQ(json["html_body_data"].asString(), c.expected.substr(div, end - div));
  EXPECT_EQ(Names(json["filelist"]), std::vector<std::string>{"index.html"});
  EXPECT_EQ(Keys(json), (std::set<std::string>{"success", "html_data", "html_body_data", "filelist"}))
      << json.toStyledString();
  EXPECT_EQ(ReadFile(page_path), c.bytes) << "the page on disk changed";
}

INSTANTIATE_TEST_SUITE_P(
    ImportExportPhase, ImportExportPage,
    ::testing::Values(
        PageCase{"utf8_korean", "C.UTF-8", 65001, "", kUtf8Page, kUtf8Page},
        // Equal counts in every decoding keep the bytes as they are.
        PageCase{"ascii", "C", 1252, "949", kAsciiPage, kAsciiPage},
        // Korean system code page: the page's code page and the system's
        // give equal counts.
        PageCase{"cp949_on_korean_system", "ko_KR.EUC-KR", 949, "949", kCp949Page, kUtf8Page},
        // UTF-8 system: only the page's own code page reads it with fewer
        // characters than UTF-8.
        PageCase{"cp949_on_utf8_system", "C.UTF-8", 65001, "949", kCp949Page, kUtf8Page}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.label); });

TEST_F(ImportExportPhase, ListsTheFileListInFileOrderAndDeletesNothing) {
  StartDocklane();
  if (HasFatalFailure()) return;
  WaitForExportRoot();
  const std::string root = ExportRoot();
  const std::string page =
      "<html><body><p>" + kKoreanBody + "</p><img src=\"import.files/zeta.png\"><link "
      "href=\"import.files/alpha.css\"></body></html>";
  ASSERT_TRUE(WriteFile(root + "/import.html", page));
  ASSERT_TRUE(fs::create_directories(root + "/import.files"));
  const std::string list =
      "<xml xmlns:o=\"urn:schemas-microsoft-com:office:office\">\n"
      " <o:MainFile HRef=\"../import.html\"/>\n"
      " <o:File HRef=\"zeta.png\"/>\n"
      " <o:File HRef=\"alpha.css\"/>\n"
      " <o:File HRef=\"filelist.xml\"/>\n"
      "</xml>\n";
  ASSERT_TRUE(WriteFile(root + "/import.files/filelist.xml", list));
  ASSERT_TRUE(WriteFile(root + "/import.files/zeta.png", "\x89PNG\r\n\x1a\n"));
  ASSERT_TRUE(WriteFile(root + "/import.files/alpha.css", "p { color: red }\n"));

  const Json::Value json = Export("");
  EXPECT_TRUE(json["success"].asBool());
  EXPECT_EQ(json["html_data"].asString(), page);
  // No "<body lang": the whole page is the body.
  EXPECT_EQ(json["html_body_data"].asString(), page);
  EXPECT_EQ(Names(json["filelist"]),
            (std::vector<std::string>{"index.html", "zeta.png", "alpha.css", "filelist.xml"}));
  for (const char* absent : {"image_files", "text_files", "purge_result", "local_filename"}) {
    EXPECT_FALSE(json.isMember(absent)) << absent;
  }
  EXPECT_EQ(ReadFile(root + "/import.html"), page);
  EXPECT_EQ(ReadFile(root + "/import.files/filelist.xml"), list);
  EXPECT_TRUE(Exists(root + "/import.files/zeta.png"));
  EXPECT_TRUE(Exists(root + "/import.files/alpha.css"));
}

// Every document of the shared corpus through one Docklane, one after the
// other: none may crash, hang or stall it.
class ImportCorpus : public ImportDesktop {};

struct CorpusEntry {
  std::string file;  // relative to the corpus folder
  std::string filter;
  bool convertible;  // the office's own command line made something of it
};

// The filter the page would send for the document. PowerPoint 2007 files
// go as slide pictures and older ones as a page, so both paths get the
// corpus's presentations.
std::string FilterFor(const std::string& file) {
  const std::string extension = Lower(file.substr(file.rfind('.') + 1));
  if (extension == "xls" || extension == "xlsx") return "xls";
  if (extension == "pptx") return "pptslide";
  if (extension == "ppt") return "ppt";
  return "doc";
}

// One row per document: its name, and whether a plain command-line
// conversion by the same office gave any output (BASELINE.tsv's "output").
std::vector<CorpusEntry> ReadBaseline(const std::string& corpus) {
  std::vector<CorpusEntry> entries;
  std::ifstream baseline(corpus + "/BASELINE.tsv");
  std::string line;
  std::getline(baseline, line);
  std::vector<std::string> header;
  for (std::istringstream fields(line); std::getline(fields, line, '\t');) header.push_back(line);
  const auto output = std::find(header.begin(), header.end(), "output") - header.begin();
  while (std::getline(baseline, line)) {
    std::vector<std::string> fields;
    for (std::istringstream row(line); std::getline(row, line, '\t');) fields.push_back(line);
    if (fields.size() <= static_cast<std::size_t>(output) || fields[0].empty()) continue;
    entries.push_back({fields[0], FilterFor(fields[0]), fields[output] == "yes"});
  }
  return entries;
}

bool SuccessIsBool(const ImportReply& reply) { return reply.json["success"].isBool(); }

std::string Tail(const std::string& text, std::size_t bytes) {
  return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

TEST_F(ImportCorpus, EveryDocumentImportsWithoutStallingDocklane) {
  const std::string corpus = DL_E2E_CORPUS;
  const std::vector<CorpusEntry> entries = ReadBaseline(corpus);
  ASSERT_EQ(entries.size(), 46u) << "the corpus at " << corpus << " is incomplete";
  StartAll();
  if (HasFatalFailure() || IsSkipped()) return;

  // Well under the test's own time-out, so that the table below is printed.
  const auto deadline = Clock::now() + seconds(1500);
  const auto start = Clock::now();
  std::ostringstream table;
  int succeeded = 0;
  int refused = 0;
  for (const CorpusEntry& entry : entries) {
    SCOPED_TRACE(entry.file);
    ASSERT_LT(Clock::now(), deadline) << "the corpus took too long; so far:\n" << table.str();
    const std::string name = entry.file.substr(entry.file.rfind('/') + 1);
    const std::string path = StageCopy(corpus + "/" + entry.file, name);

    const ImportReply reply = Import(path, entry.filter);
    if (!reply.http.ok || !reply.parsed || !SuccessIsBool(reply)) {
      const std::optional<int> code = lane_->WaitExit(milliseconds(2000));
      ADD_FAILURE() << "no JSON reply for " << entry.file << " after " << reply.seconds << " s; Docklane "
                    << (code ? "ended with " + std::to_string(*code) : std::string("still runs"))
                    << "\nreply: " << reply.http.status_line << "\n" << reply.http.body.substr(0, 2000)
                    << "\nDocklane's stderr (end):\n" << Tail(lane_->Stderr(), 3000) << "\nso far:\n"
                    << table.str();
      return;
    }
    const Json::Value& json = reply.json;
    std::string outcome;
    if (json["success"].asBool()) {
      ++succeeded;
      outcome = "page of " + std::to_string(json["html_data"].asString().size()) + " bytes, " +
                std::to_string(Keys(json["image_files"]).size()) + " pictures";
      EXPECT_EQ(json["local_filename"].asString(), path);
    } else {
      ++refused;
      outcome = "failure: " + json["message"].asString().substr(0, 160);
      EXPECT_FALSE(json["message"].asString().empty());
    }
    // What the office converts from its command line, it converts for us
    // too; what it cannot (encrypted, truncated) is a failure reply.
    EXPECT_EQ(json["success"].asBool(), entry.convertible) << outcome;
    table << std::fixed << std::setprecision(1) << std::setw(6) << reply.seconds << " s  " << std::left
          << std::setw(36) << entry.file << std::right << " " << entry.filter << "  " << outcome << "\n";

    ExpectExportFolderClean(entry.file);
    const auto asked = Clock::now();
    const HttpReply version = HttpGet("/get_version_info");
    ASSERT_TRUE(version.ok) << "Docklane stopped answering after " << entry.file;
    EXPECT_LT(Clock::now() - asked, seconds(2)) << "Docklane answers slowly after " << entry.file;
    ASSERT_TRUE(lane_->Running()) << "Docklane ended after " << entry.file;
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  std::cout << table.str() << entries.size() << " documents in " << std::fixed << std::setprecision(1) << total
            << " s: " << succeeded << " pages, " << refused << " failure replies\n";
  RecordProperty("seconds", std::to_string(total));
  RecordProperty("pages", succeeded);
  RecordProperty("failures", refused);
}

}  // namespace
}  // namespace e2e
