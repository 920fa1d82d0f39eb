// "PowerPoint.Application" on LibreOffice Impress.
//
//   Application    Version 2014 get, Left 2025, Width 2027, Height 2028
//                  (puts), Presentations 2001 get, Activate 2033 method,
//                  Quit 2021 method
//   Presentations  Open 2005 method (file name, 3 optional)
//   Presentation   SaveAs 2037 method (file name, format, embed fonts),
//                  Close 2039 method
#include <string>

#include "platform/libreoffice/applications.hpp"
#include "platform/libreoffice/server_support.hpp"
#include "platform/office_members.hpp"

namespace platform::libreoffice {

using namespace Automation;

namespace {

constexpr const char kPowerPointVersion[] = "16.0";

// PowerPoint's SaveAs formats.
enum PowerPointFormat {
  kPptPresentation = 1,  // .ppt
  kPptJpg = powerpoint::kSaveFormatJpg,
  kPptPng = 18,
  kPptOpenXml = 24,
  kPptPdf = powerpoint::kSaveFormatPdf,
};

// PowerPoint saves slide pictures into a folder named after the target
// without its extension: .../import_pptslides.jpg -> .../import_pptslides/.
std::string SlideFolder(const std::string& target) {
  const auto slash = target.find_last_of('/');
  const auto dot = target.find_last_of('.');
  if (dot == std::string::npos || dot < slash + 1 || dot == slash + 1) return target;
  return target.substr(0, dot);
}

class Presentation : public ServerDocument {
 public:
  Presentation(std::shared_ptr<ApplicationState> state, Engine::DocId id) : ServerDocument(std::move(state), id) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case powerpoint::kPresSaveAs: {  // SaveAs(FileName, FileFormat, EmbedTrueTypeFonts)
        Expect(call, DISPATCH_METHOD, 1, 3);
        const std::string target = PathArg(call, 0);
        const int format = IntArg(call, 1, kPptOpenXml);
        switch (format) {
          case kPptJpg:
            Call([&] { state_->engine->SaveSlidePictures(Id(), SlideFolder(target), "JPG"); });
            break;
          case kPptPng:
            Call([&] { state_->engine->SaveSlidePictures(Id(), SlideFolder(target), "PNG"); });
            break;
          case kPptPdf: SaveCopy(target, "impress_pdf_Export"); break;
          case kPptOpenXml: SaveCopy(target, "Impress MS PowerPoint 2007 XML"); break;
          case kPptPresentation: SaveCopy(target, "MS PowerPoint 97"); break;
          default: Fail(DISP_E_EXCEPTION, "unsupported file format " + std::to_string(format));
        }
        return {};
      }
      case powerpoint::kPresClose:  // Close
        Expect(call, DISPATCH_METHOD, 0, 0);
        CloseDocument();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

// Open(FileName, ReadOnly, Untitled, WithWindow); a window is never shown.
const OpenMember kPresentationsOpen{powerpoint::kPresentationsOpen, DocumentApp::kImpress, 4, 1, -1};

class PowerPointApplication : public ServerObject {
 public:
  explicit PowerPointApplication(std::shared_ptr<ApplicationState> state) : ServerObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case powerpoint::kAppVersion:  // Version
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Variant::BstrFromUtf8(kPowerPointVersion);
      case powerpoint::kAppLeft:  // Left
      case powerpoint::kAppWidth:  // Width
      case powerpoint::kAppHeight:  // Height
        // The window geometry of a window that is never shown.
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        return {};
      case powerpoint::kAppPresentations:  // Presentations
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new DocumentCollection<Presentation>(state_, kPresentationsOpen));
      case powerpoint::kAppActivate:  // Activate
        Expect(call, DISPATCH_METHOD, 0, 0);
        return {};
      case powerpoint::kAppQuit:  // Quit
        Expect(call, DISPATCH_METHOD, 0, 0);
        state_->Quit();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

}  // namespace

DispatchObject* CreatePowerPointApplication(std::shared_ptr<Engine> engine) {
  return new PowerPointApplication(
      std::make_shared<ApplicationState>(std::move(engine), "PowerPoint.Application"));
}

}  // namespace platform::libreoffice
