// "Excel.Application" on LibreOffice Calc.
//
//   Application  Version 392 get, Workbooks 572 get,
//                AlertBeforeOverwriting 930, AskToUpdateLinks 992,
//                DisplayAlerts 343, EnableEvents 1213, Visible 558 (puts),
//                Quit 302 method
//   Workbooks    Open 1923 method (file name, 14 optional)
//   Workbook     SaveAs 284 method (11 optional after the file name),
//                Close 277 method (3 optional)
#include <string>

#include "platform/libreoffice/applications.hpp"
#include "platform/libreoffice/server_support.hpp"
#include "platform/office_members.hpp"

namespace platform::libreoffice {

using namespace Automation;

namespace {

constexpr const char kExcelVersion[] = "16.0";

// Excel's SaveAs formats.
enum ExcelFormat {
  kExcelCsv = 6,
  kExcelHtml = excel::kSaveFormatHtml,
  kExcelOpenXml = 51,
  kExcelWorkbook8 = 56,  // .xls
  kExcelPdf = 57,
};

class Workbook : public ServerDocument {
 public:
  Workbook(std::shared_ptr<ApplicationState> state, Engine::DocId id) : ServerDocument(std::move(state), id) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case excel::kBookSaveAs: {  // SaveAs(Filename, FileFormat, Password, ..., AccessMode, ...)
        Expect(call, DISPATCH_METHOD, 1, 12);
        const std::string target = PathArg(call, 0);
        const int format = IntArg(call, 1, kExcelOpenXml);
        switch (format) {
          case kExcelHtml: Call([&] { state_->engine->SaveWebPage(Id(), target); }); break;
          case kExcelCsv: SaveCopy(target, "Text - txt - csv (StarCalc)"); break;
          case kExcelOpenXml: SaveCopy(target, "Calc MS Excel 2007 XML"); break;
          case kExcelWorkbook8: SaveCopy(target, "MS Excel 97"); break;
          case kExcelPdf: SaveCopy(target, "calc_pdf_Export"); break;
          default: Fail(DISP_E_EXCEPTION, "unsupported file format " + std::to_string(format));
        }
        return {};
      }
      case excel::kBookClose:  // Close; the workbook was opened read-only to be converted
        Expect(call, DISPATCH_METHOD, 0, 3);
        CloseDocument();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

// Open(Filename, UpdateLinks, ReadOnly, Format, Password, ...)
const OpenMember kWorkbooksOpen{excel::kWorkbooksOpen, DocumentApp::kCalc, 15, 2, 4};

class ExcelApplication : public ServerObject {
 public:
  explicit ExcelApplication(std::shared_ptr<ApplicationState> state) : ServerObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case excel::kAppVersion:  // Version
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Variant::BstrFromUtf8(kExcelVersion);
      case excel::kAppWorkbooks:  // Workbooks
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new DocumentCollection<Workbook>(state_, kWorkbooksOpen));
      case excel::kAppAlertBeforeOverwriting:   // AlertBeforeOverwriting
      case excel::kAppAskToUpdateLinks:   // AskToUpdateLinks
      case excel::kAppDisplayAlerts:   // DisplayAlerts
      case excel::kAppEnableEvents:  // EnableEvents
      case excel::kAppVisible:   // Visible
        // The headless office never prompts, runs no events and shows nothing.
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        call.args[0].Deref().ToInt();
        return {};
      case excel::kAppQuit:  // Quit
        Expect(call, DISPATCH_METHOD, 0, 0);
        state_->Quit();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

}  // namespace

DispatchObject* CreateExcelApplication(std::shared_ptr<Engine> engine) {
  return new ExcelApplication(std::make_shared<ApplicationState>(std::move(engine), "Excel.Application"));
}

}  // namespace platform::libreoffice
