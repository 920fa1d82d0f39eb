#include "tests/office/office_fixture.hpp"

namespace office_test {
namespace {

const std::string kApp = "PowerPoint.Application";
const std::string kPres = "PowerPoint.Application>2001";
const std::string kDeck = "PowerPoint.Application>2001>2005";
const std::string kWord = "Word.Application";

std::vector<std::string> OpenCalls(const std::string& input) {
  return {
      Line(kApp, 2001, "get", 9),
      Line(kApp, 2033, "method", 0),
      Line(kPres, 2005, "method", 9,
           {Typed(8, Str(input)), Typed(3, "VT_I4 -1"), Typed(3, "VT_I4 0"), Typed(3, "VT_I4 -1")}),
  };
}

std::string SaveCall(const std::string& target, int format) {
  return Line(kDeck, 2037, "method", 0,
              {Typed(8, Str(target)), Typed(3, "VT_I4 " + std::to_string(format)), Typed(3, "VT_I4 0")});
}

const std::vector<std::string> kCloseAndQuit = {Line(kDeck, 2039, "method", 0), Line(kApp, 2021, "method", 0)};

std::vector<std::string> WordCalls(const std::string& input, const std::string& page) {
  return {
      Line(kWord, 6, "get", 9),
      Line(kWord + ">6", 20, "method", 9, Join({{ByRef(Str(input))}, Times(15, ByRef(kMissing))})),
      Line(kWord + ">6>20", 376, "method", 0,
           Join({{ByRef(Str(page)), ByRef("VT_I2 8")}, Times(9, ByRef(kMissing)), {ByRef("VT_I2 -535")},
                 Times(4, ByRef(kMissing))})),
      Line(kWord + ">6>20", 1105, "method", 0, Times(3, ByRef(kMissing))),
      Line(kWord, 23, "put", 0, {Typed(11, "VT_BOOL 0")}),
      Line(kWord, 1105, "method", 0, Times(3, ByRef(kMissing))),
  };
}

class PowerPointConversion : public OfficeTest {
 protected:
  void SetUp() override {
    OfficeTest::SetUp();
    // PowerPoint's SaveAs writes its target, as the application would.
    server_->SetAction(kDeck, 2037, [](const Automation::Invocation& call) {
      std::ofstream(call.args.at(0).ToUtf8(), std::ios::binary) << "intermediate";
    });
    // The callers start Word first, then PowerPoint.
    ASSERT_TRUE(dlg_->CreateWordApp());
    ASSERT_TRUE(dlg_->CreatePowerPointApp());
    started_ = server_->Log().size();
  }
  std::size_t started_ = 0;
};

TEST_F(PowerPointConversion, SlidePicturesAreSavedAsJpegWithoutWord) {
  const std::string input = WriteInput("deck.pptx");
  dlg_->ConvertPowerPointToHtml(U16(input), true);
  EXPECT_EQ(LogFrom(started_),
            Join({OpenCalls(input), {SaveCall(root_ + "/import_pptslides.jpg", 17)}, kCloseAndQuit}));
  EXPECT_TRUE(dlg_->m_pptApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_pptPresentation.IsEmpty());
  // The Word instance started beside PowerPoint is not used, only held.
  EXPECT_FALSE(dlg_->m_wordApp.IsEmpty());
}

TEST_F(PowerPointConversion, WebPageGoesThroughPdfFrom2013On) {
  const std::string input = WriteInput("deck.pptx");
  const std::string pdf = root_ + "/import.html.pdf";
  dlg_->ConvertPowerPointToHtml(U16(input), false);
  EXPECT_EQ(LogFrom(started_), Join({OpenCalls(input), {Line(kApp, 2014, "get", 8), SaveCall(pdf, 32)},
                                     WordCalls(pdf, root_ + "/import.html"), kCloseAndQuit}));
  EXPECT_TRUE(ExportEntries().empty()) << "the intermediate PDF is deleted";
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_pptApp.IsEmpty());
}

TEST_F(PowerPointConversion, WebPageGoesThroughRtfBefore2013) {
  SetVersion(kApp, 2014, "12.0");
  const std::string input = WriteInput("old.ppt");
  const std::string rtf = root_ + "/import.html.rtf";
  dlg_->ConvertPowerPointToHtml(U16(input), false);
  EXPECT_EQ(LogFrom(started_), Join({OpenCalls(input), {Line(kApp, 2014, "get", 8), SaveCall(rtf, 6)},
                                     WordCalls(rtf, root_ + "/import.html"), kCloseAndQuit}));
  EXPECT_TRUE(ExportEntries().empty()) << "the intermediate RTF is deleted";
}

TEST_F(PowerPointConversion, MissingPresentationTouchesNothing) {
  dlg_->ConvertPowerPointToHtml(U16(tmp_ + "/missing.pptx"), false);
  dlg_->ConvertPowerPointToHtml(U16(tmp_ + "/missing.pptx"), true);
  EXPECT_TRUE(LogFrom(started_).empty());
  EXPECT_FALSE(dlg_->m_pptApp.IsEmpty());
  EXPECT_FALSE(dlg_->m_wordApp.IsEmpty());
  EXPECT_TRUE(ExportEntries().empty());
}

TEST_F(PowerPointConversion, WordFailingOnThePdfCleansUpBothApplications) {
  server_->SetFailure(kWord + ">6", 20, Automation::DISP_E_EXCEPTION, "cannot read the PDF");
  const std::string input = WriteInput("deck.pptx");
  const std::string pdf = root_ + "/import.html.pdf";
  try {
    dlg_->ConvertPowerPointToHtml(U16(input), false);
    FAIL() << "no exception";
  } catch (const Automation::AutomationException& e) {
    EXPECT_EQ(e.description(), "cannot read the PDF");
  }
  const auto word = WordCalls(pdf, root_ + "/import.html");
  EXPECT_EQ(LogFrom(started_), Join({OpenCalls(input), {Line(kApp, 2014, "get", 8), SaveCall(pdf, 32)},
                                     {word[0], word[1], word[5]}, kCloseAndQuit}));
  EXPECT_TRUE(ExportEntries().empty()) << "no intermediate file is left behind";
  EXPECT_TRUE(dlg_->m_wordApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_pptApp.IsEmpty());
  EXPECT_TRUE(dlg_->m_pptPresentation.IsEmpty());
}

TEST_F(PowerPointConversion, FailedOpenQuitsPowerPoint) {
  server_->SetFailure(kPres, 2005, Automation::DISP_E_EXCEPTION, "corrupt");
  const std::string input = WriteInput("corrupt.pptx");
  EXPECT_THROW(dlg_->ConvertPowerPointToHtml(U16(input), true), Automation::AutomationException);
  EXPECT_EQ(LogFrom(started_), Join({OpenCalls(input), {Line(kApp, 2021, "method", 0)}}));
  EXPECT_TRUE(dlg_->m_pptApp.IsEmpty());
}

}  // namespace
}  // namespace office_test
