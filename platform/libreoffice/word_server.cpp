// "Word.Application" on LibreOffice Writer.
//
//   Application  Version 24 get, Visible 23 put, Documents 6 get,
//                Selection 5 get, Caption 80 put, 91 put (window state),
//                331 and 385 methods, Quit 1105 method (3 optional)
//   Documents    Open 20 method (16 optional after the file name)
//   Document     SaveAs 376 method, Close 1105, Save 108, Activate 113
//   Selection    GoTo 173 method (4 optional)
#include "platform/libreoffice/applications.hpp"
#include "platform/libreoffice/server_support.hpp"

#include <string>

namespace platform::libreoffice {

using namespace Automation;

namespace {

constexpr const char kWordVersion[] = "16.0";

// Word's SaveAs formats and the Writer export filters for them.
enum WordFormat {
  kWordDocument = 0,     // .doc
  kWordText = 2,
  kWordRtf = 6,
  kWordHtml = 8,
  kWordFilteredHtml = 10,
  kWordXmlDocument = 12,  // .docx
  kWordDocumentDefault = 16,
  kWordPdf = 17,
};
constexpr int kUtf8CodePage = 65001;

class WordDocument : public ServerDocument {
 public:
  WordDocument(std::shared_ptr<ApplicationState> state, Engine::DocId id) : ServerDocument(std::move(state), id) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case 376: {  // SaveAs
        Expect(call, DISPATCH_METHOD, 1, 16);
        const std::string target = PathArg(call, 0);
        const int format = IntArg(call, 1, kWordDocumentDefault);
        // The encoding arrives as a 16-bit value: 65001 reads back as -535.
        const int encoding = IntArg(call, 11, kUtf8CodePage) & 0xFFFF;
        switch (format) {
          case kWordHtml:
          case kWordFilteredHtml:
            if (encoding != kUtf8CodePage)
              Fail(DISP_E_EXCEPTION, "web pages are saved in UTF-8 only (code page 65001)");
            Call([&] { state_->engine->SaveWebPage(Id(), target); });
            break;
          case kWordDocument: SaveCopy(target, "MS Word 97"); break;
          case kWordText: SaveCopy(target, "Text"); break;
          case kWordRtf: SaveCopy(target, "Rich Text Format"); break;
          case kWordXmlDocument:
          case kWordDocumentDefault: SaveCopy(target, "MS Word 2007 XML"); break;
          case kWordPdf: SaveCopy(target, "writer_pdf_Export"); break;
          default: Fail(DISP_E_EXCEPTION, "unsupported file format " + std::to_string(format));
        }
        return {};
      }
      case 1105:  // Close; never saves (the documents are opened to be converted)
        Expect(call, DISPATCH_METHOD, 0, 3);
        CloseDocument();
        return {};
      case 108:  // Save
        Expect(call, DISPATCH_METHOD, 0, 0);
        Call([&] { state_->engine->Save(Id()); });
        return {};
      case 113:  // Activate: a headless document has no window to bring forward
        Expect(call, DISPATCH_METHOD, 0, 0);
        Id();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

class WordDocuments : public ServerObject {
 public:
  explicit WordDocuments(std::shared_ptr<ApplicationState> state) : ServerObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    if (call.dispid != 20) NoSuchMember(call);
    // Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles,
    //      PasswordDocument, ... Format, Encoding, ...)
    Expect(call, DISPATCH_METHOD, 1, 16);
    OpenRequest request;
    request.path = PathArg(call, 0);
    request.app = DocumentApp::kWriter;
    request.readOnly = IntArg(call, 2, 0) != 0;
    if (const Variant* password = Arg(call, 4)) request.password = password->ToUtf8();
    const Engine::DocId id = Call([&] { return state_->engine->Open(request); });
    return Object(new WordDocument(state_, id));
  }
};

// The selection of a document window. Headless documents have no visible
// cursor, so moving it has nothing to show; GoTo answers with a range object.
class WordSelection : public ServerObject {
 public:
  explicit WordSelection(std::shared_ptr<ApplicationState> state) : ServerObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    if (call.dispid != 173) NoSuchMember(call);
    Expect(call, DISPATCH_METHOD, 0, 4);
    return Object(new WordSelection(state_));
  }
};

class WordApplication : public ServerObject {
 public:
  explicit WordApplication(std::shared_ptr<ApplicationState> state) : ServerObject(std::move(state)) {}
  ~WordApplication() override = default;

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case 24:  // Version
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Variant::BstrFromUtf8(kWordVersion);
      case 23:  // Visible
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        visible_ = call.args[0].Deref().ToInt() != 0;
        return {};
      case 6:  // Documents
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new WordDocuments(state_));
      case 5:  // Selection
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new WordSelection(state_));
      case 80:  // Caption
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        caption_ = call.args[0].Deref().ToUtf8();
        return {};
      case 91:  // WindowState
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        windowState_ = call.args[0].Deref().ToInt();
        return {};
      case 331:
      case 385:
        // Window housekeeping of Word's; nothing to do without a window.
        Expect(call, DISPATCH_METHOD, 0, 0);
        return {};
      case 1105:  // Quit
        Expect(call, DISPATCH_METHOD, 0, 3);
        state_->Quit();
        return {};
      default:
        NoSuchMember(call);
    }
  }

 private:
  bool visible_ = false;
  std::string caption_;
  int windowState_ = 0;
};

}  // namespace

DispatchObject* CreateWordApplication(std::shared_ptr<Engine> engine) {
  return new WordApplication(std::make_shared<ApplicationState>(std::move(engine), "Word.Application"));
}

}  // namespace platform::libreoffice
