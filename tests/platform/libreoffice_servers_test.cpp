// The three automation servers against the real office, driven with the call
// shapes the office code uses (DISPIDs, kinds, parameter types, values).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "export/file_list.hpp"
#include "libreoffice_test_support.hpp"
#include "platform/automation.hpp"
#include "platform/libreoffice/servers.hpp"

namespace {

using namespace Automation;
using namespace lotest;
using platform::libreoffice::DocumentApp;
using platform::libreoffice::Engine;

constexpr VARTYPE kByRef = VT_VARIANT | VT_BYREF;

std::vector<Argument> Refs(std::vector<Variant>& values) {
  std::vector<Argument> args;
  for (auto& v : values) args.emplace_back(&v);
  return args;
}

DispatchDriver Get(DispatchDriver& from, DISPID dispid) {
  DispatchObject* object = nullptr;
  from.InvokeHelper(dispid, DISPATCH_PROPERTYGET, VT_DISPATCH, &object, {});
  return DispatchDriver(object);
}

// Word: Documents.Open, Document.SaveAs(web page, UTF-8), Close, Visible,
// Quit, exactly as the Word conversion calls them.
void WordToWebPage(const fs::path& source, const fs::path& target) {
  DispatchDriver app;
  ASSERT_TRUE(app.CreateDispatch("Word.Application"));
  DispatchDriver documents = Get(app, 6);
  std::vector<Variant> open(16, Variant::Missing());
  open[0] = Variant::BstrFromUtf8(source.string());
  DispatchObject* doc = nullptr;
  documents.InvokeHelperV(20, DISPATCH_METHOD, VT_DISPATCH, &doc, std::vector<VARTYPE>(16, kByRef), Refs(open));
  DispatchDriver document(doc);
  std::vector<Variant> save(16, Variant::Missing());
  save[0] = Variant::BstrFromUtf8(target.string());
  save[1] = Variant::I2(8);
  save[11] = Variant::I2(static_cast<std::int16_t>(65001 & 0xFFFF));
  document.InvokeHelperV(376, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(16, kByRef), Refs(save));
  std::vector<Variant> close(3, Variant::Missing());
  document.InvokeHelperV(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(3, kByRef), Refs(close));
  document.ReleaseDispatch();
  app.InvokeHelper(23, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
  std::vector<Variant> quit(3, Variant::Missing());
  app.InvokeHelperV(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, std::vector<VARTYPE>(3, kByRef), Refs(quit));
}

void ExcelToWebPage(const fs::path& source, const fs::path& target) {
  DispatchDriver app;
  ASSERT_TRUE(app.CreateDispatch("Excel.Application"));
  DispatchDriver workbooks = Get(app, 572);
  const Variant missing = Variant::Missing();
  DispatchObject* book = nullptr;
  std::vector<VARTYPE> openTypes = {VT_BSTR};
  openTypes.resize(15, VT_VARIANT);
  std::vector<Argument> openArgs = {Argument(source.string()), Argument(missing), Argument(Variant::I2(1))};
  while (openArgs.size() < 15) openArgs.emplace_back(missing);
  workbooks.InvokeHelperV(1923, DISPATCH_METHOD, VT_DISPATCH, &book, openTypes, openArgs);
  DispatchDriver workbook(book);
  for (DISPID prompt : {930, 992, 343, 1213})
    app.InvokeHelper(prompt, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
  std::vector<VARTYPE> saveTypes(6, VT_VARIANT);
  saveTypes.push_back(VT_I4);
  saveTypes.resize(11, VT_VARIANT);
  std::vector<Argument> saveArgs = {Argument(Variant::BstrFromUtf8(target.string())), Argument(Variant::I2(44))};
  while (saveArgs.size() < 6) saveArgs.emplace_back(missing);
  saveArgs.emplace_back(1);
  while (saveArgs.size() < 11) saveArgs.emplace_back(missing);
  workbook.InvokeHelperV(284, DISPATCH_METHOD, VT_EMPTY, nullptr, saveTypes, saveArgs);
  workbook.InvokeHelper(277, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_VARIANT, VT_VARIANT, VT_VARIANT}, missing,
                        missing, missing);
  workbook.ReleaseDispatch();
  app.InvokeHelper(558, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
  app.InvokeHelper(302, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
}

// PowerPoint: Presentations.Open, SaveAs(format), Close, Quit.
void PowerPointSaveAs(const fs::path& source, const fs::path& target, int format) {
  DispatchDriver app;
  ASSERT_TRUE(app.CreateDispatch("PowerPoint.Application"));
  for (auto [dispid, value] : {std::pair<DISPID, float>{2027, 1.0f}, {2028, 1.0f}, {2025, -500.0f}})
    app.InvokeHelper(dispid, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_R4}, value);
  DispatchDriver presentations = Get(app, 2001);
  app.InvokeHelper(2033, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  DispatchObject* pres = nullptr;
  presentations.InvokeHelper(2005, DISPATCH_METHOD, VT_DISPATCH, &pres, {VT_BSTR, VT_I4, VT_I4, VT_I4},
                             source.string(), -1, 0, -1);
  DispatchDriver presentation(pres);
  presentation.InvokeHelper(2037, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_BSTR, VT_I4, VT_I4}, target.string(),
                            format, 0);
  presentation.InvokeHelper(2039, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  presentation.ReleaseDispatch();
  app.InvokeHelper(2021, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
}

class LibreOfficeServers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = std::make_shared<Engine>(TestOptions());
    platform::libreoffice::RegisterLibreOfficeServers(engine_);
  }
  static void TearDownTestSuite() {
    platform::libreoffice::UnregisterLibreOfficeServers();
    engine_.reset();
  }
  void SetUp() override {
    root_ = FreshDir("export");
    docs_ = FreshDir("documents");
  }

  // Checks the layout Word leaves for a web page and returns the page.
  std::string ExpectWebPage(std::size_t pictures) {
    const std::string html = ReadFile(root_ / "import.html");
    EXPECT_FALSE(html.empty());
    EXPECT_TRUE(IsUtf8(html));
    EXPECT_NE(html.find("charset=utf-8"), std::string::npos);
    const auto names = ScanFileList(ReadFile(root_ / "import.files" / "filelist.xml"));
    EXPECT_EQ(names.size(), pictures + 1);
    EXPECT_TRUE(!names.empty() && names.back() == "filelist.xml");
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
      char expected[32];
      std::snprintf(expected, sizeof expected, "image%03zu.", i + 1);
      EXPECT_EQ(names[i].rfind(expected, 0), 0u) << names[i];
      EXPECT_TRUE(fs::is_regular_file(root_ / "import.files" / names[i])) << names[i];
      EXPECT_NE(html.find("\"import.files/" + names[i] + "\""), std::string::npos) << names[i];
    }
    // Every picture the page shows comes from the support folder.
    std::size_t images = 0;
    for (std::size_t at = html.find("<img"); at != std::string::npos; at = html.find("<img", at + 1)) ++images;
    EXPECT_EQ(images, pictures);
    return html;
  }

  static std::shared_ptr<Engine> engine_;
  fs::path root_, docs_;
};

std::shared_ptr<Engine> LibreOfficeServers::engine_;

TEST_F(LibreOfficeServers, WordSavesDocxWithKoreanTextAndTwoPicturesAsWebPage) {
  MakeDocument(*engine_, DocumentApp::kWriter,
               FlatText({"안녕하세요, 문서 변환 시험입니다.", "@0", "두 번째 그림", "@1"}),
               docs_ / "korean.docx", "MS Word 2007 XML");
  WordToWebPage(docs_ / "korean.docx", root_ / "import.html");
  const std::string html = ExpectWebPage(2);
  // The office marks up the Korean runs (language, font), so look for words.
  for (const char* word : {"안녕하세요", "문서 변환", "시험입니다", "두 번째 그림"})
    EXPECT_NE(html.find(word), std::string::npos) << word;
  // The pictures are the document's own, as PNG.
  EXPECT_EQ(ReadFile(root_ / "import.files" / "image001.png").substr(1, 3), "PNG");
  EXPECT_NE(ReadFile(root_ / "import.files" / "image001.png"), ReadFile(root_ / "import.files" / "image002.png"));
  // The application quit and closed what it opened.
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeServers, WordSavesDocAsWebPage) {
  MakeDocument(*engine_, DocumentApp::kWriter, FlatText({"Binary Word 97 document", "@2"}), docs_ / "old.doc",
               "MS Word 97");
  WordToWebPage(docs_ / "old.doc", root_ / "import.html");
  EXPECT_NE(ExpectWebPage(1).find("Binary Word 97 document"), std::string::npos);
}

TEST_F(LibreOfficeServers, WordSavesRtfAsWebPage) {
  // A name that needs escaping in a URL.
  const fs::path rtf = docs_ / "편지 #1 100%.rtf";
  MakeDocument(*engine_, DocumentApp::kWriter, FlatText({"Rich text 한글", "@1"}), rtf, "Rich Text Format");
  WordToWebPage(rtf, root_ / "import.html");
  const std::string html = ExpectWebPage(1);
  EXPECT_NE(html.find("Rich text"), std::string::npos);
  EXPECT_NE(html.find("한글"), std::string::npos);
}

TEST_F(LibreOfficeServers, ExcelSavesXlsxWithPictureAsWebPage) {
  MakeDocument(*engine_, DocumentApp::kCalc, FlatSheet({{"이름", "Amount"}, {"사과", "12"}}),
               docs_ / "book.xlsx", "Calc MS Excel 2007 XML");
  ExcelToWebPage(docs_ / "book.xlsx", root_ / "import.html");
  const std::string html = ExpectWebPage(1);
  EXPECT_NE(html.find("사과"), std::string::npos);
  EXPECT_NE(html.find("Amount"), std::string::npos);
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeServers, PlainTextAndCsvOpenAsText) {
  WriteFile(docs_ / "notes.txt", "첫 줄 first line\nsecond line\n");
  WordToWebPage(docs_ / "notes.txt", root_ / "import.html");
  std::string html = ExpectWebPage(0);
  EXPECT_NE(html.find("첫 줄"), std::string::npos);
  EXPECT_NE(html.find("first line"), std::string::npos);
  EXPECT_NE(html.find("second line"), std::string::npos);

  WriteFile(docs_ / "table.csv", "품목,수량\n\"apples, red\",12\n");
  ExcelToWebPage(docs_ / "table.csv", root_ / "import.html");
  html = ExpectWebPage(0);
  EXPECT_NE(html.find("품목"), std::string::npos);
  EXPECT_NE(html.find("apples, red"), std::string::npos);
  EXPECT_NE(html.find(">12<"), std::string::npos);
}

TEST_F(LibreOfficeServers, PowerPointSavesOnePicturePerSlide) {
  MakeDocument(*engine_, DocumentApp::kImpress, FlatPresentation({"First", "Second", "Third"}),
               docs_ / "deck.pptx", "Impress MS PowerPoint 2007 XML");
  // An older slide folder with more slides is replaced, not merged.
  fs::create_directories(root_ / "import_pptslides");
  WriteFile(root_ / "import_pptslides" / "Slide9.JPG", "old");
  PowerPointSaveAs(docs_ / "deck.pptx", root_ / "import_pptslides.jpg", 17);
  std::vector<std::string> slides;
  for (const auto& e : fs::directory_iterator(root_ / "import_pptslides")) slides.push_back(e.path().filename());
  std::sort(slides.begin(), slides.end());
  EXPECT_EQ(slides, (std::vector<std::string>{"Slide1.JPG", "Slide2.JPG", "Slide3.JPG"}));
  for (const auto& s : slides) {
    const std::string jpeg = ReadFile(root_ / "import_pptslides" / s);
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");
  }
  EXPECT_FALSE(fs::exists(root_ / "import.html"));
  EXPECT_FALSE(fs::exists(root_ / "import_pptslides.jpg"));
}

TEST_F(LibreOfficeServers, PowerPointPdfOpenedByWordGivesEverySlidesTextAndPictures) {
  MakeDocument(*engine_, DocumentApp::kImpress,
               FlatPresentation({"Opening slide", "Middle slide 중간", "Closing slide"}), docs_ / "deck.pptx",
               "Impress MS PowerPoint 2007 XML");
  PowerPointSaveAs(docs_ / "deck.pptx", root_ / "import.html.pdf", 32);
  EXPECT_EQ(ReadFile(root_ / "import.html.pdf").substr(0, 5), "%PDF-");
  WordToWebPage(root_ / "import.html.pdf", root_ / "import.html");
  const std::string html = ExpectWebPage(3);
  const auto first = html.find("Opening slide");
  const auto middle = html.find("Middle slide 중간");
  const auto last = html.find("Closing slide");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(middle, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(first, middle);
  EXPECT_LT(middle, last);
}

TEST_F(LibreOfficeServers, RandomBytesNamedDocxFailAsAnAutomationCall) {
  std::string bytes(20000, '\0');
  std::mt19937 random(3);
  for (auto& b : bytes) b = static_cast<char>(random());
  WriteFile(docs_ / "random.docx", bytes);
  try {
    WordToWebPage(docs_ / "random.docx", root_ / "import.html");
    FAIL() << "random bytes were converted";
  } catch (const AutomationException& e) {
    EXPECT_EQ(e.code(), DISP_E_EXCEPTION);
    EXPECT_NE(e.description().find("random.docx"), std::string::npos) << e.description();
  }
  EXPECT_TRUE(fs::is_empty(root_));
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeServers, EmptyFileFailsAsAnAutomationCall) {
  WriteFile(docs_ / "empty.docx", "");
  EXPECT_THROW(WordToWebPage(docs_ / "empty.docx", root_ / "import.html"), AutomationException);
  WriteFile(docs_ / "empty.xlsx", "");
  EXPECT_THROW(ExcelToWebPage(docs_ / "empty.xlsx", root_ / "import.html"), AutomationException);
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(LibreOfficeServers, PasswordProtectedDocumentFailsAsAnAutomationCall) {
  const fs::path flat = docs_ / "secret.fodt";
  WriteFile(flat, FlatText({"secret text"}));
  platform::libreoffice::OpenRequest request;
  request.path = flat.string();
  const auto doc = engine_->Open(request);
  engine_->SaveCopy(doc, docs_ / "secret.doc", "MS Word 97", "pa55word");
  engine_->Close(doc);
  EXPECT_EQ(ReadFile(docs_ / "secret.doc").find("secret text"), std::string::npos);
  EXPECT_THROW(WordToWebPage(docs_ / "secret.doc", root_ / "import.html"), AutomationException);
  EXPECT_FALSE(fs::exists(root_ / "import.html"));
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
}

TEST_F(LibreOfficeServers, MembersOutsideTheTableFailWithoutStartingTheOffice) {
  const unsigned starts = engine_->Starts();
  DispatchDriver word, excel, ppt;
  ASSERT_TRUE(word.CreateDispatch("Word.Application"));
  ASSERT_TRUE(excel.CreateDispatch("Excel.Application"));
  ASSERT_TRUE(ppt.CreateDispatch("PowerPoint.Application"));
  std::u16string version;
  word.InvokeHelper(24, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  EXPECT_EQ(version, u"16.0");
  excel.InvokeHelper(392, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  EXPECT_EQ(version, u"16.0");
  ppt.InvokeHelper(2014, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  EXPECT_EQ(version, u"16.0");

  auto code = [](auto&& call) -> HRESULT {
    try {
      call();
    } catch (const AutomationException& e) {
      return e.code();
    }
    return S_OK;
  };
  // Unknown DISPIDs, and known ones called as another kind.
  EXPECT_EQ(code([&] { word.InvokeHelper(25, DISPATCH_PROPERTYGET, VT_BSTR, &version, {}); }), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(code([&] { word.InvokeHelper(24, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BSTR}, "1.0"); }),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(code([&] { excel.InvokeHelper(2014, DISPATCH_PROPERTYGET, VT_BSTR, &version, {}); }),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(code([&] { ppt.InvokeHelper(302, DISPATCH_METHOD, VT_EMPTY, nullptr, {}); }), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(code([&] { ppt.InvokeHelper(2021, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_I4}, 1); }),
            DISP_E_BADPARAMCOUNT);
  DispatchDriver documents = Get(word, 6);
  EXPECT_EQ(code([&] { documents.InvokeHelper(21, DISPATCH_METHOD, VT_EMPTY, nullptr, {}); }), DISP_E_MEMBERNOTFOUND);
  // Members that need no document work without an office.
  word.InvokeHelper(80, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BSTR}, "Plumeto1 - Word");
  word.InvokeHelper(91, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_I4}, 3);
  word.InvokeHelper(331, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  word.InvokeHelper(385, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  // Opening a file that is not there fails as a call; Quit ends the
  // application, after which it answers nothing.
  std::vector<Variant> open(16, Variant::Missing());
  open[0] = Variant::BstrFromUtf8((docs_ / "missing.docx").string());
  DispatchObject* doc = nullptr;
  EXPECT_EQ(code([&] {
              documents.InvokeHelperV(20, DISPATCH_METHOD, VT_DISPATCH, &doc, std::vector<VARTYPE>(16, kByRef),
                                      Refs(open));
            }),
            DISP_E_EXCEPTION);
  ppt.InvokeHelper(2021, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  EXPECT_EQ(code([&] { ppt.InvokeHelper(2014, DISPATCH_PROPERTYGET, VT_BSTR, &version, {}); }), RPC_E_DISCONNECTED);
  EXPECT_EQ(engine_->Starts(), starts);
}

TEST_F(LibreOfficeServers, ReleasingADocumentOrQuittingClosesIt) {
  WriteFile(docs_ / "a.html", "<html><body><p>page</p></body></html>");
  DispatchDriver app;
  ASSERT_TRUE(app.CreateDispatch("Word.Application"));
  DispatchDriver documents = Get(app, 6);
  auto open = [&] {
    std::vector<Variant> args(16, Variant::Missing());
    args[0] = Variant::BstrFromUtf8((docs_ / "a.html").string());
    DispatchObject* doc = nullptr;
    documents.InvokeHelperV(20, DISPATCH_METHOD, VT_DISPATCH, &doc, std::vector<VARTYPE>(16, kByRef), Refs(args));
    return DispatchDriver(doc);
  };
  {
    DispatchDriver doc = open();
    EXPECT_EQ(engine_->OpenDocuments(), 1u);
  }
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
  DispatchDriver kept = open();
  EXPECT_EQ(engine_->OpenDocuments(), 1u);
  const pid_t office = engine_->OfficePid();
  app.InvokeHelper(1105, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  EXPECT_EQ(engine_->OpenDocuments(), 0u);
  EXPECT_THROW(kept.InvokeHelper(108, DISPATCH_METHOD, VT_EMPTY, nullptr, {}), AutomationException);
  // The office stays warm for the next application.
  EXPECT_EQ(engine_->OfficePid(), office);
  EXPECT_GT(office, 0);
}

TEST(LibreOfficeServersWithoutOffice, CreationFailsWhenLibreOfficeIsNotInstalled) {
  auto options = TestOptions();
  options.programDir = "/nonexistent/libreoffice/program";
  auto engine = std::make_shared<Engine>(options);
  EXPECT_FALSE(engine->Installed());
  platform::libreoffice::RegisterLibreOfficeServers(engine);
  for (const char* progid : {"Word.Application", "Excel.Application", "PowerPoint.Application"}) {
    DispatchDriver app;
    EXPECT_FALSE(app.CreateDispatch(progid)) << progid;
    EXPECT_TRUE(app.IsEmpty());
  }
  platform::libreoffice::UnregisterLibreOfficeServers();
}

}  // namespace
