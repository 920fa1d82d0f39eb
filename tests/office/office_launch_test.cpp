#include "tests/office/office_fixture.hpp"

namespace office_test {
namespace {

using Launch = OfficeTest;

TEST_F(Launch, WordFrom2013OnReadsItsVersionThreeTimes) {
  ASSERT_TRUE(dlg_->CreateWordApp());
  EXPECT_FALSE(dlg_->m_wordApp.IsEmpty());
  const std::string read = Line("Word.Application", 24, "get", 8);
  EXPECT_EQ(server_->Log(), (std::vector<std::string>{"create Word.Application", read, read, read}));
  EXPECT_TRUE(dialogs_->messages().empty());
}

TEST_F(Launch, WordVersionsAreComparedAsText) {
  const std::string read = Line("Word.Application", 24, "get", 8);
  struct Case {
    const char* version;
    std::size_t reads;
  };
  // Ordinal comparison with "15.0": "9.0" sorts after it, "14.0" and "" before.
  for (const Case& c : {Case{"14.0", 2}, Case{"15.0", 3}, Case{"9.0", 3}, Case{"", 2}, Case{"150", 3}}) {
    server_->ClearLog();
    SetVersion("Word.Application", 24, c.version);
    ASSERT_TRUE(dlg_->CreateWordApp()) << c.version;
    EXPECT_EQ(LogFrom(1), std::vector<std::string>(c.reads, read)) << "version " << c.version;
  }
}

TEST_F(Launch, ExcelReadsItsVersion) {
  ASSERT_TRUE(dlg_->CreateExcelApp());
  EXPECT_EQ(server_->Log(),
            (std::vector<std::string>{"create Excel.Application", Line("Excel.Application", 392, "get", 8)}));
}

TEST_F(Launch, PowerPointWindowIsShrunkAndMovedOffScreen) {
  ASSERT_TRUE(dlg_->CreatePowerPointApp());
  const std::string app = "PowerPoint.Application";
  EXPECT_EQ(server_->Log(), (std::vector<std::string>{
                                "create PowerPoint.Application",
                                Line(app, 2014, "get", 8),
                                Line(app, 2027, "put", 0, {Typed(4, "VT_R4 1")}),
                                Line(app, 2028, "put", 0, {Typed(4, "VT_R4 1")}),
                                Line(app, 2025, "put", 0, {Typed(4, "VT_R4 -500")}),
                            }));
}

TEST_F(Launch, MissingApplicationsShowTheirMessageAndFail) {
  for (const char* progid : {"Word.Application", "Excel.Application", "PowerPoint.Application"})
    server_->SetUnavailable(progid);
  EXPECT_FALSE(dlg_->CreateWordApp());
  EXPECT_FALSE(dlg_->CreateExcelApp());
  EXPECT_FALSE(dlg_->CreatePowerPointApp());
  EXPECT_EQ(dialogs_->messages(), (std::vector<std::string>{"Cannot open the MS Word", "Cannot open the MS Excel",
                                                            "Cannot open the MS PowerPoint"}));
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_excelApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_pptApp.IsEmpty());
  EXPECT_TRUE(server_->Log().empty());
}

TEST_F(Launch, NothingRegisteredAtAllAlsoFailsWithTheMessage) {
  server_.reset();  // no automation servers: like an engine that is not installed
  EXPECT_FALSE(dlg_->CreateWordApp());
  EXPECT_EQ(dialogs_->messages(), std::vector<std::string>{"Cannot open the MS Word"});
}

TEST_F(Launch, StartingAgainReleasesThePreviousInstance) {
  ASSERT_TRUE(dlg_->CreateWordApp());
  ASSERT_TRUE(dlg_->CreateWordApp());
  EXPECT_EQ(server_->LiveObjects(), 1);
}

TEST_F(Launch, AFailingVersionReadRaisesTheAutomationException) {
  server_->SetFailure("Word.Application", 24, Automation::RPC_E_DISCONNECTED, "engine died");
  EXPECT_THROW(dlg_->CreateWordApp(), Automation::AutomationException);
}

TEST_F(Launch, DialogDestructionReleasesEveryDriver) {
  ASSERT_TRUE(dlg_->CreateWordApp());
  ASSERT_TRUE(dlg_->CreateExcelApp());
  ASSERT_TRUE(dlg_->CreatePowerPointApp());
  EXPECT_EQ(server_->LiveObjects(), 3);
  dlg_.reset();
  EXPECT_EQ(server_->LiveObjects(), 0);
}

}  // namespace
}  // namespace office_test
