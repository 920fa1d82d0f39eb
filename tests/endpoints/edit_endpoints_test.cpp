// The edit endpoints and the Word status endpoints through the endpoint
// table, with the recording automation server standing for Word and a
// desktop of fake windows.
#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "endpoints/endpoint_table.hpp"
#include "endpoints/reply_framing.hpp"
#include "export/reply_body.hpp"
#include "platform/testing/fake_top_level_windows.hpp"
#include "tests/office/office_fixture.hpp"
#include "tests/platform/codepage_test_locales.hpp"

namespace {

namespace fs = std::filesystem;
using office_test::ByRef;
using office_test::Join;
using office_test::kMissing;
using office_test::Line;
using office_test::Str;
using office_test::Times;
using office_test::Typed;
using Clock = std::chrono::steady_clock;

const std::string kKorean = "\xED\x95\x9C\xEA\xB5\xAD";  // two syllables, UTF-8
const std::string kKorean949 = "\xC7\xD1\xB1\xB9";      // the same in code page 949

struct Reply {
  std::string header;
  std::string body;
  Json::Value json;
};

class EditEndpoints : public office_test::OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    auto windows = std::make_unique<platform::FakeTopLevelWindows>();
    windows_ = windows.get();
    platform::TopLevelWindows::SetForTesting(std::move(windows));
    dlg_.reset();
    // Word's editing window appears when it opens the page.
    server_->SetAction("Word.Application>6", 20, [this](const Automation::Invocation&) {
      word_window_ = windows_->Add({"import.html - Plumeto1 - Word", {0, 0, 800, 600}});
    });
  }
  void TearDown() override {
    delete g_pMainDlg;
    g_pMainDlg = nullptr;
    platform::TopLevelWindows::SetForTesting(nullptr);
    OfficeTest::TearDown();
  }

  Reply Serve(const std::string& path, const std::vector<std::pair<std::string, std::string>>& params = {},
              const std::string& content_length = "0") {
    RequestTree tree;
    for (const auto& [key, value] : params) tree.put(RequestTree::path_type(key, '\0'), value);
    RequestTree fields;
    fields.put("http_method", "POST");
    fields.put("http_uri", path);
    fields.put("http_content_length", content_length);
    Reply reply;
    ReplyBody body;
    HandleEndpointRequest(tree, fields, reply.header, body);
    EXPECT_TRUE(body.ToText(reply.body));
    Json::Reader().parse(reply.body, reply.json);
    return reply;
  }

  std::string ReadExport(const std::string& relative) const {
    std::ifstream in(fs::path(root_) / relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  platform::FakeTopLevelWindows* windows_ = nullptr;
  platform::WindowId word_window_ = 0;
};

std::string HeaderC(std::size_t length) {
  return FillHeaderTemplate(ReplyTemplate::kC, length, kHtmlContentType, "");
}

TEST_F(EditEndpoints, TheNewPageIsWrittenInItsCodePageAndReported) {
  const struct {
    const char* locale;
    std::string html;
    const char* code_page;
    std::string written;
    std::string report;
    int opened_in;  // the Encoding Word is asked to read the page in
  } cases[] = {
      {"C", "abcdefgh", "", "abcdefgh", "8 bytes in CP0 (system: CP1252 )", 65001},
      {"ko_KR.EUC-KR", "abcdefgh", "", "abcdefgh", "8 bytes in CP0 (system: CP949 )", 949},
      // Western systems keep UTF-8; others write their own code page.
      {"C", kKorean, "", kKorean, "6 bytes in CP0 (system: CP1252 )", 65001},
      {"ko_KR.EUC-KR", kKorean, "", kKorean949, "4 bytes in CP0 (system: CP949 )", 949},
      {"ko_KR.EUC-KR", kKorean, "65001", kKorean, "6 bytes in CP65001 (system: CP949 )", 65001},
      {"C", kKorean, "949", kKorean949, "4 bytes in CP949 (system: CP1252 )", 949},
      // Characters the code page lacks become '?'; a code page nobody has
      // keeps the page in UTF-8. Word reads the page in what it was written in.
      {"C", kKorean, "1252", "??", "2 bytes in CP1252 (system: CP1252 )", 1252},
      {"C", kKorean, "12345", kKorean, "6 bytes in CP12345 (system: CP1252 )", 65001},
      // The text ends at a NUL, as a C string would.
      {"C", std::string("ab\0cd", 5), "", "ab", "2 bytes in CP0 (system: CP1252 )", 65001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " / " + c.code_page);
    test_locales::ScopedLocale locale(c.locale);
    if (!locale.ok()) GTEST_SKIP() << "locale " << c.locale << " cannot be built here";
    fs::create_directories(fs::path(root_) / "import.files");
    std::ofstream(fs::path(root_) / "import.files" / "image001.png") << "old";
    const std::size_t before = server_->Log().size();
    const Reply reply = Serve("/edit_new_html", {{"html_data", c.html}, {"html_codepage", c.code_page}});
    EXPECT_EQ(reply.body, "{\"success\":true,\"message\":\"" + c.report + " written into import.html\"}");
    const std::string encoding = ByRef("VT_I2 " + std::to_string(static_cast<std::int16_t>(c.opened_in)));
    const auto log = office_test::OfficeTest::LogFrom(before);
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
      return line.rfind("Word.Application>6 20 method", 0) == 0 && line.find(ByRef("VT_I2 7") + ", " + encoding) != std::string::npos;
    })) << "Word is not asked to read the page in code page " << c.opened_in;
    EXPECT_EQ(ReadExport("import.html"), c.written);
    EXPECT_FALSE(fs::exists(fs::path(root_) / "import.files" / "image001.png")) << "the old support files stay";
    ASSERT_NE(g_pMainDlg, nullptr) << "the dialog must stay for the editing session";
  }
}

TEST_F(EditEndpoints, WordIsShownTheUtf8PathInTheCodePageCaptionedAndLastLine) {
  test_locales::ScopedLocale locale("C");
  const std::size_t before = server_->Log().size();
  Serve("/edit_new_html", {{"html_data", "<p>x</p>"}, {"html_codepage", "949"}});
  const std::string page = root_ + "/import.html";
  const std::vector<std::string> expected = {
      "create Word.Application",
      Line("Word.Application", 24, "get", 8),
      Line("Word.Application", 24, "get", 8),
      Line("Word.Application", 24, "get", 8),
      Line("Word.Application", 23, "put", 0, {Typed(11, "VT_BOOL 1")}),
      Line("Word.Application", 331, "method", 0),
      Line("Word.Application", 23, "put", 0, {Typed(11, "VT_BOOL 1")}),
      Line("Word.Application", 385, "method", 0),
      Line("Word.Application", 6, "get", 9),
      Line("Word.Application>6", 20, "method", 9,
           Join({{ByRef(Str(page))}, Times(8, ByRef(kMissing)), {ByRef("VT_I2 7"), ByRef("VT_I2 949")},
                 Times(5, ByRef(kMissing))})),
      Line("Word.Application", 5, "get", 9),
      Line("Word.Application>5", 173, "method", 9,
           {ByRef("VT_I2 3"), ByRef("VT_I2 -1"), ByRef(kMissing), ByRef(kMissing)}),
      Line("Word.Application>6>20", 113, "method", 0),
      Line("Word.Application", 80, "put", 0, {Typed(8, Str("Plumeto1 - Word"))}),
      Line("Word.Application", 91, "put", 0, {Typed(3, "VT_I4 3")}),
  };
  EXPECT_EQ(office_test::OfficeTest::LogFrom(before), expected);
  EXPECT_EQ(windows_->focused(), word_window_) << "the window was not brought forward";
}

TEST_F(EditEndpoints, WithoutWordTheReplyIsTemplateBAndNothingIsWritten) {
  server_->SetUnavailable("Word.Application");
  for (const char* path : {"/edit_new_html", "/edit_export_html", "/edit_export_purge_html"}) {
    const Reply reply = Serve(path, {{"html_data", "<p>x</p>"}});
    EXPECT_EQ(reply.body, "{\n   \"message\" : \"MS Office Word Application not found\",\n   \"success\" : false\n}\n");
    EXPECT_EQ(reply.header, FillHeaderTemplate(ReplyTemplate::kB, reply.body.size(), kHtmlContentType, ""));
    EXPECT_FALSE(fs::exists(root_ + "/import.html")) << path;
  }
  EXPECT_EQ(dialogs_->messages().size(), 3u);
}

TEST_F(EditEndpoints, APageLargerThanItsBufferIsRefusedNotCut) {
  // Content-Length 10: room for 20 bytes and the NUL.
  const Reply fits = Serve("/edit_new_html", {{"html_data", std::string(20, 'a')}}, "10");
  EXPECT_EQ(fits.body.rfind("{\"success\":true,\"message\":\"20 bytes", 0), 0u) << fits.body;
  const Reply refused = Serve("/edit_new_html", {{"html_data", std::string(21, 'a')}}, "10");
  EXPECT_FALSE(refused.json["success"].asBool()) << refused.body;
  EXPECT_NE(refused.json["message"].asString().find("html_data is too long"), std::string::npos);
  EXPECT_EQ(ReadExport("import.html"), std::string(20, 'a')) << "the refused page was written";
  EXPECT_EQ(g_pMainDlg, nullptr);
}

TEST_F(EditEndpoints, AliveFollowsTheWindowAndForgetsTheDialogOnceItIsGone) {
  const Reply none = Serve("/check_msword_alive");
  EXPECT_EQ(none.body, "{\n   \"msword_alive\" : false,\n   \"success\" : true\n}\n");
  EXPECT_EQ(none.header, HeaderC(none.body.size()));

  Serve("/edit_new_html", {{"html_data", "<p>x</p>"}});
  EXPECT_TRUE(Serve("/check_msword_alive").json["msword_alive"].asBool());
  // Word's own title for the page counts too.
  windows_->SetTitle(word_window_, "import - Word");
  EXPECT_TRUE(Serve("/check_msword_alive").json["msword_alive"].asBool());
  windows_->Remove(word_window_);
  EXPECT_FALSE(Serve("/check_msword_alive").json["msword_alive"].asBool());
  EXPECT_EQ(g_pMainDlg, nullptr);
  EXPECT_FALSE(Serve("/check_msword_alive").json["msword_alive"].asBool());
}

TEST_F(EditEndpoints, CloseSavesClosesAndQuitsWordButWaitsOnlyWhenThereWasADialog) {
  const auto quick = Clock::now();
  const Reply without = Serve("/close_msword_window");
  EXPECT_LT(Clock::now() - quick, std::chrono::milliseconds(500));
  const std::string closed = "{\n   \"message\" : \"Office Word Application closed\",\n   \"success\" : true\n}\n";
  EXPECT_EQ(without.body, closed);
  EXPECT_EQ(without.header, HeaderC(closed.size()));

  Serve("/edit_new_html", {{"html_data", "<p>x</p>"}});
  server_->SetAction("Word.Application", 1105, [this](const Automation::Invocation&) { windows_->Remove(word_window_); });
  const std::size_t before = server_->Log().size();
  const auto slow = Clock::now();
  EXPECT_EQ(Serve("/close_msword_window").body, closed);
  EXPECT_GE(Clock::now() - slow, std::chrono::milliseconds(1000));
  EXPECT_EQ(LogFrom(before), (std::vector<std::string>{
                                 Line("Word.Application>6>20", 108, "method", 0),
                                 Line("Word.Application>6>20", 1105, "method", 0, Times(3, ByRef(kMissing))),
                                 Line("Word.Application", 23, "put", 0, {Typed(11, "VT_BOOL 0")}),
                                 Line("Word.Application", 1105, "method", 0, Times(3, ByRef(kMissing))),
                             }));
  EXPECT_EQ(g_pMainDlg, nullptr);
  EXPECT_FALSE(Serve("/check_msword_alive").json["msword_alive"].asBool());
}

TEST_F(EditEndpoints, ExportWaitsForTheWindowToCloseThenReadsThePage) {
  Serve("/edit_new_html", {{"html_data", "<p>" + kKorean + "</p>"}});
  // The person edits for a moment, saves and closes Word.
  auto person = std::async(std::launch::async, [this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ofstream(fs::path(root_) / "import.html") << "<p>edited</p>";
    windows_->Remove(word_window_);
  });
  const auto start = Clock::now();
  const Reply reply = Serve("/export_as_html");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
  person.get();
  EXPECT_EQ(reply.json["html_data"].asString(), "<p>edited</p>");
  EXPECT_EQ(g_pMainDlg, nullptr);
}

}  // namespace
