#include "tests/office/office_fixture.hpp"

namespace office_test {
namespace {

const std::string kApp = "Word.Application";
const std::string kDocs = "Word.Application>6";
const std::string kDoc = "Word.Application>6>20";

// The calls of one Word conversion of `input` into `page`.
std::vector<std::string> WordCalls(const std::string& input, const std::string& page) {
  return {
      Line(kApp, 6, "get", 9),
      Line(kDocs, 20, "method", 9, Join({{ByRef(Str(input))}, Times(15, ByRef(kMissing))})),
      Line(kDoc, 376, "method", 0,
           Join({{ByRef(Str(page)), ByRef("VT_I2 8")}, Times(9, ByRef(kMissing)),
                 {ByRef("VT_I2 -535")},  // 65001 in 16 bits
                 Times(4, ByRef(kMissing))})),
      Line(kDoc, 1105, "method", 0, Times(3, ByRef(kMissing))),
      Line(kApp, 23, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kApp, 1105, "method", 0, Times(3, ByRef(kMissing))),
  };
}

class WordConversion : public OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    ASSERT_TRUE(dlg_->CreateWordApp());
    started_ = server_->Log().size();
  }
  std::size_t started_ = 0;
};

TEST_F(WordConversion, OpensSavesAsUtf8WebPageClosesAndQuits) {
  const std::string input = WriteInput("letter.docx");
  dlg_->ConvertWordToHtml(U16(input));
  EXPECT_EQ(LogFrom(started_), WordCalls(input, root_ + "/import.html"));
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_wordDocument.IsEmpty());
  // The collection is kept until the next run or the dialog's end.
  EXPECT_FALSE(dlg_->m_wordDocuments.IsEmpty());
  EXPECT_EQ(server_->LiveObjects(), 1);
}

TEST_F(WordConversion, NonAsciiPathIsPassedUnchanged) {
  const std::string input = WriteInput("\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C.docx");  // Korean "report"
  dlg_->ConvertWordToHtml(U16(input));
  const auto calls = server_->Calls();
  auto open = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c.dispid == 20; });
  ASSERT_NE(open, calls.end());
  ASSERT_FALSE(open->args.empty());
  EXPECT_EQ(open->args[0], Automation::Variant::Bstr(U16(input)));
  EXPECT_EQ(open->args[0].ToUtf8(), input);
}

TEST_F(WordConversion, AFolderCountsAsAnExistingName) {
  dlg_->ConvertWordToHtml(U16(tmp_ + "/home"));
  EXPECT_EQ(LogFrom(started_), WordCalls(tmp_ + "/home", root_ + "/import.html"));
}

TEST_F(WordConversion, MissingFileTouchesNothing) {
  dlg_->ConvertWordToHtml(U16(tmp_ + "/no such file.docx"));
  dlg_->ConvertWordToHtml(u"");
  // A NUL inside the name must not make it the existing folder before it.
  dlg_->ConvertWordToHtml(U16(tmp_) + std::u16string(1, u'\0') + u"x.docx");
  EXPECT_EQ(LogFrom(started_), std::vector<std::string>{});
  EXPECT_FALSE(dlg_->m_wordApp.IsEmpty());  // Word stays running, held by its driver
  EXPECT_TRUE(ExportEntries().empty());
}

TEST_F(WordConversion, FailedOpenQuitsWordAndPassesTheExceptionOn) {
  server_->SetFailure(kDocs, 20, Automation::DISP_E_EXCEPTION, "cannot open");
  const std::string input = WriteInput("broken.docx");
  try {
    dlg_->ConvertWordToHtml(U16(input));
    FAIL() << "no exception";
  } catch (const Automation::AutomationException& e) {
    EXPECT_EQ(e.code(), Automation::DISP_E_EXCEPTION);
    EXPECT_EQ(e.description(), "cannot open");
  }
  const auto calls = WordCalls(input, root_ + "/import.html");
  EXPECT_EQ(LogFrom(started_), (std::vector<std::string>{calls[0], calls[1], calls[5]}));
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
}

TEST_F(WordConversion, FailedSaveClosesTheDocumentAndQuits) {
  server_->SetFailure(kDoc, 376, Automation::RPC_E_TIMEOUT, "engine hung");
  const std::string input = WriteInput("big.docx");
  EXPECT_THROW(dlg_->ConvertWordToHtml(U16(input)), Automation::AutomationException);
  const auto calls = WordCalls(input, root_ + "/import.html");
  EXPECT_EQ(LogFrom(started_), (std::vector<std::string>{calls[0], calls[1], calls[2], calls[3], calls[5]}));
  EXPECT_TRUE(dlg_->m_wordDocument.IsEmpty());
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
}

TEST_F(WordConversion, FailingCleanupDoesNotHideTheFirstFailure) {
  server_->SetFailure(kDoc, 376, Automation::RPC_E_DISCONNECTED, "engine died");
  server_->SetFailure(kDoc, 1105, Automation::E_FAIL, "close failed");
  server_->SetFailure(kApp, 1105, Automation::E_FAIL, "quit failed");
  try {
    dlg_->ConvertWordToHtml(U16(WriteInput("a.docx")));
    FAIL() << "no exception";
  } catch (const Automation::AutomationException& e) {
    EXPECT_EQ(e.code(), Automation::RPC_E_DISCONNECTED);
  }
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
}

TEST_F(WordConversion, WithoutAnExportFolderNothingIsWritten) {
  // A root that is a symlink is refused, leaving no export folder.
  const std::string other = tmp_ + "/run2";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(symlink((tmp_ + "/home").c_str(), (other + "/docklane").c_str()), 0);
  setenv("XDG_RUNTIME_DIR", other.c_str(), 1);
  ASSERT_FALSE(InitExportPaths());

  const std::string input = WriteInput("a.docx");
  try {
    dlg_->ConvertWordToHtml(U16(input));
    FAIL() << "no exception";
  } catch (const Automation::AutomationException& e) {
    EXPECT_EQ(e.code(), Automation::E_FAIL);
  }
  EXPECT_EQ(LogFrom(started_), (std::vector<std::string>{Line(kApp, 1105, "method", 0, Times(3, ByRef(kMissing)))}));
}

}  // namespace
}  // namespace office_test
