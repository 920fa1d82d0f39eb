// The office conversions of CDeskrelayDlg against the real office: the
// calls the conversions make give the export folder layout that the export
// phase collects, and failures leave nothing running or lying about.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "endpoints/automation_failure.hpp"
#include "export/export_paths.hpp"
#include "export/file_list.hpp"
#include "libreoffice_test_support.hpp"
#include "office/deskrelay_dlg.hpp"
#include "platform/libreoffice/engine.hpp"
#include "platform/libreoffice/servers.hpp"
#include "platform/testing/fake_dialogs.hpp"

namespace {

using namespace lotest;
using platform::libreoffice::DocumentApp;
using platform::libreoffice::Engine;

std::u16string U16(const fs::path& path) { return Automation::Variant::BstrFromUtf8(path.string()).bstrVal(); }

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  if (fs::is_directory(dir))
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class OfficeOnLibreOffice : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    root_ = ExportRootUtf8();
    for (const auto& name : Entries(root_)) fs::remove_all(fs::path(root_) / name);
    docs_ = FreshDir("documents");
    auto dialogs = std::make_unique<platform::FakeDialogs>();
    dialogs_ = dialogs.get();
    platform::Dialogs::SetForTesting(std::move(dialogs));
    engine_ = std::make_shared<Engine>(TestOptions());
    platform::libreoffice::RegisterLibreOfficeServers(engine_);
    g_pMainDlg = new CDeskrelayDlg();
  }

  void TearDown() override {
    DiscardMainDialog();
    platform::libreoffice::UnregisterLibreOfficeServers();
    engine_.reset();
    platform::Dialogs::SetForTesting(nullptr);
  }

  // The page and its support files as Word leaves them; returns the page.
  std::string ExpectWebPage(std::size_t pictures) {
    const fs::path root(root_);
    const std::string html = ReadFile(root / "import.html");
    EXPECT_TRUE(IsUtf8(html));
    const auto names = ScanFileList(ReadFile(root / "import.files" / "filelist.xml"));
    EXPECT_EQ(names.size(), pictures + 1);
    for (const auto& name : names) EXPECT_TRUE(fs::is_regular_file(root / "import.files" / name)) << name;
    return html;
  }

  std::string root_;
  fs::path docs_;
  platform::FakeDialogs* dialogs_ = nullptr;
  std::shared_ptr<Engine> engine_;
};

TEST_F(OfficeOnLibreOffice, WordConvertsADocxWithKoreanTextAndPictures) {
  MakeDocument(*engine_, DocumentApp::kWriter, FlatText({"한국어 문서 변환", "@0", "둘째 그림", "@1"}),
               docs_ / "korean.docx", "MS Word 2007 XML");
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  g_pMainDlg->ConvertWordToHtml(U16(docs_ / "korean.docx"));
  const std::string html = ExpectWebPage(2);
  EXPECT_NE(html.find("한국어 문서 변환"), std::string::npos);
  EXPECT_TRUE(g_pMainDlg->m_wordApp.IsEmpty());
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
  EXPECT_TRUE(dialogs_->messages().empty());
}

TEST_F(OfficeOnLibreOffice, ExcelConvertsAnXlsx) {
  MakeDocument(*engine_, DocumentApp::kCalc, FlatSheet({{"품목", "Count"}, {"배", "7"}}), docs_ / "book.xlsx",
               "Calc MS Excel 2007 XML");
  ASSERT_TRUE(g_pMainDlg->CreateExcelApp());
  g_pMainDlg->ConvertExcelToHtml(U16(docs_ / "book.xlsx"));
  const std::string html = ExpectWebPage(1);
  EXPECT_NE(html.find("품목"), std::string::npos);
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(OfficeOnLibreOffice, PowerPointGivesSlidePicturesOrAWebPageThroughPdf) {
  MakeDocument(*engine_, DocumentApp::kImpress, FlatPresentation({"Alpha slide", "Beta slide", "Gamma slide"}),
               docs_ / "deck.pptx", "Impress MS PowerPoint 2007 XML");
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  ASSERT_TRUE(g_pMainDlg->CreatePowerPointApp());
  g_pMainDlg->ConvertPowerPointToHtml(U16(docs_ / "deck.pptx"), true);
  EXPECT_EQ(Entries(fs::path(root_) / "import_pptslides"),
            (std::vector<std::string>{"Slide1.JPG", "Slide2.JPG", "Slide3.JPG"}));
  EXPECT_FALSE(fs::exists(fs::path(root_) / "import.html"));

  DiscardMainDialog();
  fs::remove_all(fs::path(root_) / "import_pptslides");
  g_pMainDlg = new CDeskrelayDlg();
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  ASSERT_TRUE(g_pMainDlg->CreatePowerPointApp());
  g_pMainDlg->ConvertPowerPointToHtml(U16(docs_ / "deck.pptx"), false);
  const std::string html = ExpectWebPage(3);
  for (const char* title : {"Alpha slide", "Beta slide", "Gamma slide"})
    EXPECT_NE(html.find(title), std::string::npos) << title;
  EXPECT_FALSE(fs::exists(fs::path(root_) / "import.html.pdf"));
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(OfficeOnLibreOffice, ACorruptFileFailsCleanlyAndTheNextConversionWorks) {
  std::string bytes(20000, '\0');
  std::mt19937 random(7);
  for (auto& b : bytes) b = static_cast<char>(random());
  WriteFile(docs_ / "random.docx", bytes);
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  try {
    g_pMainDlg->ConvertWordToHtml(U16(docs_ / "random.docx"));
    FAIL() << "random bytes were converted";
  } catch (const Automation::AutomationException& e) {
    const Json::Value reply = AutomationFailureReply(e);
    EXPECT_FALSE(reply["success"].asBool());
    EXPECT_NE(reply["message"].asString().find("office automation failed"), std::string::npos);
  }
  EXPECT_TRUE(g_pMainDlg->m_wordApp.IsEmpty());
  DiscardMainDialog();
  EXPECT_TRUE(Entries(root_).empty());
  EXPECT_EQ(engine_->OpenDocuments(), 0u);

  MakeDocument(*engine_, DocumentApp::kWriter, FlatText({"after the failure"}), docs_ / "good.rtf",
               "Rich Text Format");
  g_pMainDlg = new CDeskrelayDlg();
  ASSERT_TRUE(g_pMainDlg->CreateWordApp());
  g_pMainDlg->ConvertWordToHtml(U16(docs_ / "good.rtf"));
  EXPECT_NE(ExpectWebPage(0).find("after the failure"), std::string::npos);
}

TEST_F(OfficeOnLibreOffice, WithoutTheOfficeTheStartsShowTheirMessages) {
  platform::libreoffice::UnregisterLibreOfficeServers();
  platform::libreoffice::EngineOptions options = TestOptions();
  options.programDir = docs_ / "no-office-here";
  engine_ = std::make_shared<Engine>(options);
  platform::libreoffice::RegisterLibreOfficeServers(engine_);
  EXPECT_FALSE(g_pMainDlg->CreateWordApp());
  EXPECT_FALSE(g_pMainDlg->CreateExcelApp());
  EXPECT_FALSE(g_pMainDlg->CreatePowerPointApp());
  EXPECT_EQ(dialogs_->messages(), (std::vector<std::string>{"Cannot open the MS Word", "Cannot open the MS Excel",
                                                            "Cannot open the MS PowerPoint"}));
}

}  // namespace
