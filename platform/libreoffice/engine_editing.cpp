// Documents shown in a window of a visible office for the person at the
// desktop to edit: opening, retitling, the cursor, the focus, and noticing
// saves and closed windows.
#include <chrono>
#include <thread>

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/document/DocumentEvent.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/io/SequenceInputStream.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>

#include "platform/libreoffice/engine_impl.hpp"
#include "platform/libreoffice/uno_support.hpp"

namespace platform::libreoffice {
namespace {

// The office replaces a closed document with its start page in the same
// window; the window is closed once that has happened.
constexpr std::chrono::milliseconds kStartPageSettle{200};

// Told by the office about a shown document: its saves, and its end. Runs on
// the connection's threads, so it only notes what happened.
class DocumentWatch : public cppu::WeakImplHelper1<css::document::XDocumentEventListener> {
 public:
  DocumentWatch(Reference<css::frame::XFrame> frame, std::function<void()> onSaved, std::function<void()> onGone)
      : frame_(std::move(frame)), onSaved_(std::move(onSaved)), onGone_(std::move(onGone)) {}

  void SAL_CALL documentEventOccured(const css::document::DocumentEvent& event) override {
    const std::string name = S(event.EventName);
    if (name == "OnSaveDone" || name == "OnSaveAsDone") {
      if (!onSaved_) return;
      try {
        onSaved_();
      } catch (...) {
        // The office must not see our failure; the page stays as it saved it.
      }
    } else if (name == "OnUnload") {
      // The window lives on for a moment with the start page in it; it must
      // not pass for the editing window meanwhile. The office waits for this
      // call, so the title changes before it shows the start page.
      try {
        Reference<css::frame::XTitle>(frame_, UNO_QUERY_THROW)->setTitle(rtl::OUString());
      } catch (...) {
      }
      frame_.clear();
      onGone_();
    }
  }

  void SAL_CALL disposing(const css::lang::EventObject&) override {
    frame_.clear();
    onGone_();
  }

 private:
  Reference<css::frame::XFrame> frame_;
  std::function<void()> onSaved_;
  std::function<void()> onGone_;
};

Reference<css::frame::XFrame> FrameOf(const Reference<css::lang::XComponent>& component) {
  Reference<css::frame::XModel> model(component, UNO_QUERY_THROW);
  Reference<css::frame::XController> controller = model->getCurrentController();
  if (!controller.is()) throw EngineError(EngineError::Kind::kFailed, "the document has no window");
  return controller->getFrame();
}

}  // namespace

Engine::DocId Engine::Impl::DoOpenForEditing(const EditRequest& req) {
  if (!options.visible) throw EngineError(EngineError::Kind::kFailed, "this office shows no windows");
  if (documents.empty() && documentsThisRun >= options.documentsPerRun && desktop.is()) Shutdown(true, true);
  DocId id = 0;
  Guarded("cannot open " + req.path + " for editing", [&] {
    // The page is read from memory, already in UTF-8, while the document
    // keeps its place: a save writes `path`.
    const css::uno::Sequence<sal_Int8> bytes(reinterpret_cast<const sal_Int8*>(req.utf8Page.data()),
                                            static_cast<sal_Int32>(req.utf8Page.size()));
    Reference<css::io::XSeekableInputStream> stream =
        css::io::SequenceInputStream::createStreamFromSequence(remoteContext, bytes);
    const std::vector<css::beans::PropertyValue> props = {
        Prop("FilterName", css::uno::Any(U("HTML (StarWriter)"))),
        Prop("Hidden", css::uno::Any(false)),
        Prop("InputStream", css::uno::Any(stream)),
        Prop("MacroExecutionMode", css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        Prop("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
    };
    Reference<css::lang::XComponent> component =
        desktop->loadComponentFromURL(FileUrl(req.path), "_blank", 0, Props(props));
    if (!component.is()) throw EngineError(EngineError::Kind::kFailed, "the page could not be read");
    Reference<css::frame::XFrame> frame = FrameOf(component);
    Reference<css::frame::XTitle>(frame, UNO_QUERY_THROW)->setTitle(U(req.title));
    id = nextDoc++;
    Reference<css::document::XDocumentEventBroadcaster>(component, UNO_QUERY_THROW)
        ->addDocumentEventListener(new DocumentWatch(frame, req.onSaved, [engine = weak_from_this(), id] {
          if (auto impl = engine.lock()) impl->NoteClosedByUser(id);
        }));
    ++documentsThisRun;
    documents[id] = Document{component, DocumentApp::kWriter, false, frame};
    openDocuments = documents.size();
  });
  return id;
}

void Engine::Impl::DoSetWindowTitle(DocId id, const std::string& title) {
  Document& doc = Find(id);
  Guarded("cannot set the window's title", [&] {
    Reference<css::frame::XTitle>(FrameOf(doc.component), UNO_QUERY_THROW)->setTitle(U(title));
  });
}

void Engine::Impl::DoMoveCursorToEnd(DocId id) {
  Document& doc = Find(id);
  Guarded("cannot move the cursor", [&] {
    Reference<css::frame::XModel> model(doc.component, UNO_QUERY_THROW);
    Reference<css::text::XTextViewCursorSupplier> view(model->getCurrentController(), UNO_QUERY_THROW);
    view->getViewCursor()->gotoEnd(false);
  });
}

void Engine::Impl::DoActivateWindow(DocId id) {
  Document& doc = Find(id);
  Guarded("cannot bring the window forward", [&] {
    Reference<css::frame::XFrame> frame = FrameOf(doc.component);
    Reference<css::awt::XWindow> window = frame->getContainerWindow();
    if (Reference<css::awt::XTopWindow> top{window, UNO_QUERY}; top.is()) top->toFront();
    window->setFocus();
    frame->activate();
  });
}

void Engine::Impl::NoteClosedByUser(DocId id) {
  std::lock_guard<std::mutex> lock(mutex);
  closedByUser.insert(id);
  wake.notify_all();
}

void Engine::Impl::ReapClosedWindows() {
  std::set<DocId> closed;
  {
    std::lock_guard<std::mutex> lock(mutex);
    closed.swap(closedByUser);
  }
  std::vector<Reference<css::frame::XFrame>> frames;
  for (DocId id : closed) {
    auto it = documents.find(id);
    if (it == documents.end()) continue;
    if (it->second.frame.is()) frames.push_back(it->second.frame);
    documents.erase(it);
  }
  openDocuments = documents.size();
  if (frames.empty() || !desktop.is() || !process.Running()) return;
  std::this_thread::sleep_for(kStartPageSettle);
  for (const auto& frame : frames) {
    try {
      Reference<css::util::XCloseable>(frame, UNO_QUERY_THROW)->close(true);
    } catch (...) {
      // Gone already, with its office or by another way.
    }
  }
}

}  // namespace platform::libreoffice
