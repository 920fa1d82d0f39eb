#include "tests/office/office_fixture.hpp"

namespace office_test {
namespace {

const std::string kApp = "Excel.Application";
const std::string kBooks = "Excel.Application>572";
const std::string kBook = "Excel.Application>572>1923";

std::vector<std::string> ExcelCalls(const std::string& input, const std::string& page) {
  return {
      Line(kApp, 572, "get", 9),
      Line(kBooks, 1923, "method", 9,
           Join({{Typed(8, Str(input)), ByVal(kMissing), ByVal("VT_I2 1")}, Times(12, ByVal(kMissing))})),
      Line(kApp, 930, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kApp, 992, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kApp, 343, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kApp, 1213, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kBook, 284, "method", 0,
           Join({{ByVal(Str(page)), ByVal("VT_I2 44")}, Times(4, ByVal(kMissing)), {Typed(3, "VT_I4 1")},
                 Times(4, ByVal(kMissing))})),
      Line(kBook, 277, "method", 0, Times(3, ByVal(kMissing))),
      Line(kApp, 558, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kApp, 302, "method", 0),
  };
}

class ExcelConversion : public OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    ASSERT_TRUE(dlg_->CreateExcelApp());
    started_ = server_->Log().size();
  }
  std::size_t started_ = 0;
};

TEST_F(ExcelConversion, OpensReadOnlySilencesPromptsSavesAsWebPageAndQuits) {
  const std::string input = WriteInput("sheet.xlsx");
  dlg_->ConvertExcelToHtml(U16(input));
  EXPECT_EQ(LogFrom(started_), ExcelCalls(input, root_ + "/import.html"));
  EXPECT_TRUE(dlg_->m_excelApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_excelWorkbook.IsEmpty());
}

TEST_F(ExcelConversion, MissingFileTouchesNothing) {
  dlg_->ConvertExcelToHtml(U16(tmp_ + "/missing.xlsx"));
  EXPECT_TRUE(LogFrom(started_).empty());
  EXPECT_FALSE(dlg_->m_excelApp.IsEmpty());
  EXPECT_TRUE(ExportEntries().empty());
}

TEST_F(ExcelConversion, FailedOpenQuitsExcel) {
  server_->SetFailure(kBooks, 1923, Automation::DISP_E_EXCEPTION, "password protected");
  const std::string input = WriteInput("locked.xlsx");
  EXPECT_THROW(dlg_->ConvertExcelToHtml(U16(input)), Automation::AutomationException);
  const auto calls = ExcelCalls(input, root_ + "/import.html");
  EXPECT_EQ(LogFrom(started_), (std::vector<std::string>{calls[0], calls[1], calls[9]}));
  EXPECT_TRUE(dlg_->m_excelApp.IsEmpty());
}

TEST_F(ExcelConversion, FailedSaveClosesTheWorkbookAndQuits) {
  server_->SetFailure(kBook, 284, Automation::RPC_E_DISCONNECTED, "engine died");
  const std::string input = WriteInput("sheet.xlsx");
  EXPECT_THROW(dlg_->ConvertExcelToHtml(U16(input)), Automation::AutomationException);
  auto calls = ExcelCalls(input, root_ + "/import.html");
  calls.erase(calls.begin() + 8);  // no Visible put in the cleanup
  EXPECT_EQ(LogFrom(started_), calls);
  EXPECT_TRUE(dlg_->m_excelWorkbook.IsEmpty());
  EXPECT_TRUE(dlg_->m_excelApp.IsEmpty());
}

}  // namespace
}  // namespace office_test
