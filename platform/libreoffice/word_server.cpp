// "Word.Application" on LibreOffice Writer. A Word made visible opens its
// documents in the visible editing office, in a window of their own for the
// person at the desktop; otherwise documents open in the headless office
// that converts.
//
//   Application  Version 24 get, Visible 23 put, Documents 6 get,
//                Selection 5 get, Caption 80 put, 91 put (window state),
//                331 and 385 methods, Quit 1105 method (3 optional)
//   Documents    Open 20 method (16 optional after the file name)
//   Document     SaveAs 376 method, Close 1105, Save 108, Activate 113
//   Selection    GoTo 173 method (4 optional)
#include "platform/libreoffice/applications.hpp"
#include "platform/libreoffice/edited_page.hpp"
#include "platform/libreoffice/server_support.hpp"
#include "platform/libreoffice/text_support.hpp"
#include "platform/office_members.hpp"

#include <filesystem>
#include <map>
#include <optional>
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
  kWordHtml = word::kSaveFormatHtml,
  kWordFilteredHtml = 10,
  kWordXmlDocument = 12,  // .docx
  kWordDocumentDefault = 16,
  kWordPdf = 17,
};

// A Word application: beside what every application keeps, whether it is
// shown for the person at the desktop, its caption, and the documents it
// shows in the shared editing office with the files they came from.
struct WordState : ApplicationState {
  using ApplicationState::ApplicationState;
  bool visible = false;
  std::string caption;
  std::map<Engine::DocId, std::string> edited;
  Engine::DocId activeEdited = 0;

  // Also closes the shown documents.
  void Quit() {
    if (quit) return;
    ApplicationState::Quit();
    std::map<Engine::DocId, std::string> shown;
    shown.swap(edited);
    for (const auto& entry : shown) {
      try {
        Engine::SharedEditing()->Close(entry.first);
      } catch (const EngineError&) {
        // A lost office has closed it already.
      }
    }
  }
};

// An object of a Word application, which always has the Word state.
class WordObject : public ServerObject {
 protected:
  explicit WordObject(std::shared_ptr<WordState> state) : ServerObject(std::move(state)) {}
  WordState& Word() const { return static_cast<WordState&>(*state_); }
  std::shared_ptr<WordState> Shared() const { return std::static_pointer_cast<WordState>(state_); }
};

class WordDocument : public ServerDocument {
 public:
  WordDocument(std::shared_ptr<ApplicationState> state, Engine::DocId id) : ServerDocument(std::move(state), id) {}

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case word::kDocSaveAs: {  // SaveAs
        Expect(call, DISPATCH_METHOD, 1, 16);
        const std::string target = PathArg(call, 0);
        const int format = IntArg(call, 1, kWordDocumentDefault);
        // The encoding arrives as a 16-bit value: 65001 reads back as -535.
        const CodePage encoding = static_cast<CodePage>(IntArg(call, 11, kCodePageUtf8) & 0xFFFF);
        switch (format) {
          case kWordHtml:
          case kWordFilteredHtml:
            if (encoding != kCodePageUtf8)
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
      case word::kDocClose:  // Close; never saves (the documents are opened to be converted)
        Expect(call, DISPATCH_METHOD, 0, 3);
        CloseDocument();
        return {};
      case word::kDocSave:  // Save
        Expect(call, DISPATCH_METHOD, 0, 0);
        Call([&] { state_->engine->Save(Id()); });
        return {};
      case word::kDocActivate:  // Activate: a headless document has no window to bring forward
        Expect(call, DISPATCH_METHOD, 0, 0);
        Id();
        return {};
      default:
        NoSuchMember(call);
    }
  }
};

// A page in a window of the editing office. The window is the person's: the
// document is not closed when its last reference goes, as Word's would not
// be, and once they have closed the window every call on it fails.
class WordEditedDocument : public WordObject {
 public:
  WordEditedDocument(std::shared_ptr<WordState> state, Engine::DocId id) : WordObject(std::move(state)), id_(id) {}

  Variant Invoke(Invocation& call) override {
    Engine& engine = *Engine::SharedEditing();
    switch (call.dispid) {
      case word::kDocSave:
        Expect(call, DISPATCH_METHOD, 0, 0);
        Call([&] { engine.Save(Id()); });
        return {};
      case word::kDocClose:  // Close(SaveChanges, OriginalFormat, RouteDocument): never saves
        Expect(call, DISPATCH_METHOD, 0, 3);
        if (Word().edited.erase(id_) > 0) Call([&] { engine.Close(id_); });
        return {};
      case word::kDocActivate:
        Expect(call, DISPATCH_METHOD, 0, 0);
        Call([&] { engine.ActivateWindow(Id()); });
        return {};
      default:
        NoSuchMember(call);
    }
  }

 private:
  Engine::DocId Id() const {
    if (Word().edited.count(id_) == 0) Fail(DISP_E_EXCEPTION, "the document has been closed");
    return id_;
  }

  Engine::DocId id_;
};

// The title Word gives the window of `path` under `caption`.
std::string WindowTitle(const std::string& path, const std::string& caption) {
  return std::filesystem::path(path).filename().string() + " - " + (caption.empty() ? "Word" : caption);
}

class WordDocuments : public WordObject {
 public:
  explicit WordDocuments(std::shared_ptr<WordState> state) : WordObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    if (call.dispid != word::kDocumentsOpen) NoSuchMember(call);
    // Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles,
    //      PasswordDocument, ... Format, Encoding, ...)
    Expect(call, DISPATCH_METHOD, 1, 16);
    if (Word().visible) return OpenForEditing(call);
    return Object(new WordDocument(state_, OpenFromArgs(call, DocumentApp::kWriter, 2, 4)));
  }

 private:
  // A visible Word shows web pages (Format 7) for editing, read in the code
  // page of Encoding (0: the system's) and saved back in it.
  Variant OpenForEditing(const Invocation& call) {
    const std::string path = PathArg(call, 0);
    if (IntArg(call, 9, word::kOpenFormatWebPages) != word::kOpenFormatWebPages)
      Fail(DISP_E_EXCEPTION, "only web pages are opened in a window");
    // The encoding arrives as a 16-bit value: 65001 reads back as -535.
    const CodePage codePage = static_cast<CodePage>(IntArg(call, 10, 0) & 0xFFFF);
    const std::optional<std::string> bytes = ReadPageFile(path);
    if (!bytes) Fail(DISP_E_EXCEPTION, "cannot open " + path);

    EditRequest request;
    request.path = path;
    request.utf8Page = PageForEditing(*bytes, codePage);
    request.title = WindowTitle(path, Word().caption);
    request.onSaved = [path, codePage] { FinishSavedPage(path, codePage); };
    const Engine::DocId id = Call([&] { return Engine::SharedEditing()->OpenForEditing(request); });
    Word().edited[id] = path;
    Word().activeEdited = id;
    return Object(new WordEditedDocument(Shared(), id));
  }
};

// The selection in the active window. GoTo(What, Which, ...) moves the
// cursor of a shown document to its last line; headless documents have no
// cursor to show. It answers with a range object, as Word does.
class WordSelection : public WordObject {
 public:
  explicit WordSelection(std::shared_ptr<WordState> state) : WordObject(std::move(state)) {}

  Variant Invoke(Invocation& call) override {
    if (call.dispid != word::kSelectionGoTo) NoSuchMember(call);
    Expect(call, DISPATCH_METHOD, 0, 4);
    const Engine::DocId active = Word().activeEdited;
    if (active != 0 && Word().edited.count(active) != 0 &&
        IntArg(call, 0, 0) == word::kGoToLine && IntArg(call, 1, 0) == word::kGoToLast) {
      Call([&] { Engine::SharedEditing()->MoveCursorToEnd(active); });
    }
    return Object(new WordSelection(Shared()));
  }
};

class WordApplication : public WordObject {
 public:
  explicit WordApplication(std::shared_ptr<WordState> state) : WordObject(std::move(state)) {}
  ~WordApplication() override = default;

  Variant Invoke(Invocation& call) override {
    switch (call.dispid) {
      case word::kAppVersion:  // Version
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Variant::BstrFromUtf8(kWordVersion);
      case word::kAppVisible:  // Visible
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        Word().visible = call.args[0].Deref().ToInt() != 0;
        return {};
      case word::kAppDocuments:  // Documents
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new WordDocuments(Shared()));
      case word::kAppSelection:  // Selection
        Expect(call, DISPATCH_PROPERTYGET, 0, 0);
        return Object(new WordSelection(Shared()));
      case word::kAppCaption:  // Caption; retitles the windows of the shown documents
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        Word().caption = call.args[0].Deref().ToUtf8();
        for (const auto& shown : Word().edited) {
          const Engine::DocId id = shown.first;
          const std::string title = WindowTitle(shown.second, Word().caption);
          Call([&] { Engine::SharedEditing()->SetWindowTitle(id, title); });
        }
        return {};
      case word::kAppWindowState:  // Word's own; taken and kept
        Expect(call, DISPATCH_PROPERTYPUT, 1, 1);
        windowState_ = call.args[0].Deref().ToInt();
        return {};
      case word::kAppMethod331:
      case word::kAppMethod385:
        // Window housekeeping of Word's; the office's windows need none.
        Expect(call, DISPATCH_METHOD, 0, 0);
        return {};
      case word::kAppQuit:  // Quit
        Expect(call, DISPATCH_METHOD, 0, 3);
        Word().Quit();
        return {};
      default:
        NoSuchMember(call);
    }
  }

 private:
  int windowState_ = 0;
};

}  // namespace

DispatchObject* CreateWordApplication(std::shared_ptr<Engine> engine) {
  return new WordApplication(std::make_shared<WordState>(std::move(engine), "Word.Application"));
}

}  // namespace platform::libreoffice
