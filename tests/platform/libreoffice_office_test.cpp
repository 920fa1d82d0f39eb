// The office code's conversions (start Word, Excel, PowerPoint and convert
// into the export folder) on the LibreOffice servers, end to end inside one
// process: what the import endpoint gets to collect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "base/utf.hpp"
#include "export/export_paths.hpp"
#include "export/file_list.hpp"
#include "libreoffice_test_support.hpp"
#include "office/deskrelay_dlg.hpp"
#include "platform/libreoffice/servers.hpp"

namespace {

using namespace lotest;
using platform::libreoffice::DocumentApp;
using platform::libreoffice::Engine;

std::u16string Wide(const fs::path& p) { return Utf8ToWide(p.string()); }

class LibreOfficeOfficeCode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::unsetenv("DISPLAY");  // no message boxes
    engine_ = std::make_shared<Engine>(TestOptions());
    platform::libreoffice::RegisterLibreOfficeServers(engine_);
  }
  static void TearDownTestSuite() {
    platform::libreoffice::UnregisterLibreOfficeServers();
    engine_.reset();
  }
  void SetUp() override {
    std::string reason;
    ASSERT_TRUE(InitExportPaths(&reason)) << reason;
    root_ = ExportRootUtf8();
    for (const auto& e : fs::directory_iterator(root_)) fs::remove_all(e.path());
    docs_ = FreshDir("documents");
  }

  static std::shared_ptr<Engine> engine_;
  fs::path root_, docs_;
};

std::shared_ptr<Engine> LibreOfficeOfficeCode::engine_;

TEST_F(LibreOfficeOfficeCode, WordConversionLeavesThePageAndItsFileList) {
  MakeDocument(*engine_, DocumentApp::kWriter, FlatText({"보고서 report", "@0", "@1"}), docs_ / "report.docx",
               "MS Word 2007 XML");
  CDeskrelayDlg dlg;
  ASSERT_TRUE(dlg.CreateWordApp());
  dlg.ConvertWordToHtml(Wide(docs_ / "report.docx"));
  EXPECT_TRUE(dlg.m_wordApp.IsEmpty());
  const std::string html = ReadFile(ImportHtmlPathUtf8());
  EXPECT_NE(html.find("report"), std::string::npos);
  const auto names = ScanFileList(ReadFile(FileListPathUtf8()));
  EXPECT_EQ(names, (std::vector<std::string>{"image001.png", "image002.png", "filelist.xml"}));
  for (const char* picture : {"image001.png", "image002.png"})
    EXPECT_NE(html.find("\"" + SupportFolderPrefix() + picture + "\""), std::string::npos) << picture;
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeOfficeCode, ExcelConversionLeavesThePage) {
  MakeDocument(*engine_, DocumentApp::kCalc, FlatSheet({{"합계", "42"}}), docs_ / "sum.xlsx",
               "Calc MS Excel 2007 XML");
  CDeskrelayDlg dlg;
  ASSERT_TRUE(dlg.CreateExcelApp());
  dlg.ConvertExcelToHtml(Wide(docs_ / "sum.xlsx"));
  EXPECT_TRUE(dlg.m_excelApp.IsEmpty());
  EXPECT_NE(ReadFile(ImportHtmlPathUtf8()).find("합계"), std::string::npos);
  EXPECT_EQ(ScanFileList(ReadFile(FileListPathUtf8())).size(), 2u);
}

TEST_F(LibreOfficeOfficeCode, PowerPointConversionsGiveSlidePicturesOrAPageThroughPdf) {
  MakeDocument(*engine_, DocumentApp::kImpress, FlatPresentation({"Alpha", "Beta", "Gamma"}), docs_ / "deck.pptx",
               "Impress MS PowerPoint 2007 XML");
  {
    CDeskrelayDlg dlg;
    ASSERT_TRUE(dlg.CreateWordApp());
    ASSERT_TRUE(dlg.CreatePowerPointApp());
    dlg.ConvertPowerPointToHtml(Wide(docs_ / "deck.pptx"), true);
  }
  for (int n = 1; n <= 3; ++n) {
    const std::string slide = ReadFile(ExportRootUtf8() + "/import_pptslides/Slide" + std::to_string(n) + ".JPG");
    EXPECT_EQ(slide.substr(0, 2), "\xFF\xD8") << n;
  }
  EXPECT_FALSE(fs::exists(ExportRootUtf8() + "/import_pptslides/Slide4.JPG"));
  EXPECT_FALSE(fs::exists(ImportHtmlPathUtf8()));
  {
    CDeskrelayDlg dlg;
    ASSERT_TRUE(dlg.CreateWordApp());
    ASSERT_TRUE(dlg.CreatePowerPointApp());
    dlg.ConvertPowerPointToHtml(Wide(docs_ / "deck.pptx"), false);
  }
  const std::string html = ReadFile(ImportHtmlPathUtf8());
  for (const char* title : {"Alpha", "Beta", "Gamma"}) EXPECT_NE(html.find(title), std::string::npos) << title;
  EXPECT_EQ(ScanFileList(ReadFile(FileListPathUtf8())).size(), 4u);
  EXPECT_FALSE(fs::exists(ExportRootUtf8() + "/import.html.pdf"));
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeOfficeCode, UnreadableDocumentRaisesAndLeavesNoOfficeDocumentOpen) {
  WriteFile(docs_ / "broken.docx", std::string("PK\x03\x04", 4) + std::string(3000, 'x'));
  CDeskrelayDlg dlg;
  ASSERT_TRUE(dlg.CreateWordApp());
  bool raised = false;
  try {
    dlg.ConvertWordToHtml(Wide(docs_ / "broken.docx"));
  } catch (const Automation::AutomationException& e) {
    raised = true;
    EXPECT_NE(e.description().find("broken.docx"), std::string::npos) << e.description();
  }
  EXPECT_TRUE(raised);
  EXPECT_FALSE(fs::exists(ImportHtmlPathUtf8()));
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

}  // namespace
