// The inside of Engine, shared by the files that implement it:
// engine.cpp (the office's life and the time-limited worker),
// engine_documents.cpp (opening, saving, closing) and engine_editing.cpp
// (documents shown in a window for the person at the desktop).
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include "platform/libreoffice/engine.hpp"
#include "platform/libreoffice/office_process.hpp"

namespace platform::libreoffice {

struct Engine::Impl : std::enable_shared_from_this<Engine::Impl> {
  struct Document {
    com::sun::star::uno::Reference<com::sun::star::lang::XComponent> component;
    DocumentApp app = DocumentApp::kWriter;
    bool pdf = false;
    // Shown in a window: the person at the desktop may close it at any time.
    com::sun::star::uno::Reference<com::sun::star::frame::XFrame> frame;
  };

  Impl(EngineOptions opts, std::filesystem::path workDir);

  EngineOptions options;
  OfficeProcess process;

  // Caller side: one call at a time.
  std::mutex callMutex;
  // Hand-over between callers and the worker thread, and the windows the
  // office's own threads report closed.
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable done;
  std::function<void()> job;
  bool jobPending = false;
  bool jobRunning = false;
  bool quit = false;
  std::exception_ptr jobError;
  std::thread worker;
  std::atomic<unsigned> starts{0};
  std::atomic<std::size_t> openDocuments{0};
  std::set<DocId> closedByUser;  // under `mutex`

  // Worker side only.
  com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> remoteContext;
  com::sun::star::uno::Reference<com::sun::star::bridge::XBridge> bridge;
  com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> desktop;
  std::map<DocId, Document> documents;
  DocId nextDoc = 1;
  unsigned documentsThisRun = 0;
  std::atomic<bool> killedByCaller{false};  // the running call timed out

  // ---- worker thread (engine.cpp) ----
  void WorkerLoop();
  void DropConnection();
  // Ends the office. Politely (closing documents, asking the office to
  // terminate) only inside a time-limited call; otherwise by signal. A
  // restart keeps the profile, which saves the office its first-start work.
  void Shutdown(bool polite, bool keepProfile = false);
  // Makes sure a live office is connected; starts one when needed.
  void EnsureRunning();
  void Start();
  void LoseOffice();
  Document& Find(DocId id);

  // Runs `fn` against a live office, turning office failures into
  // EngineError. Runs on the worker thread.
  void Guarded(const std::string& what, const std::function<void()>& fn);

  // ---- worker thread (engine_documents.cpp) ----
  DocId DoOpen(const OpenRequest& req);
  void StoreTo(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& component,
               const std::filesystem::path& target, const std::string& filter, const std::string& password = {});
  void ExportGraphic(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& source,
                     const std::filesystem::path& target, const char* mediaType, sal_Int32 width, sal_Int32 height);
  std::filesystem::path FreshStaging();
  void DoSaveWebPage(DocId id, const std::filesystem::path& target);
  void DoSaveSlides(DocId id, const std::filesystem::path& folder, const std::string& extension);
  void DoSaveCopy(DocId id, const std::filesystem::path& target, const std::string& filter,
                  const std::string& password);
  void DoSave(DocId id);
  void DoClose(DocId id);
  int DoPageCount(DocId id);

  // ---- worker thread (engine_editing.cpp) ----
  DocId DoOpenForEditing(const EditRequest& req);
  void DoSetWindowTitle(DocId id, const std::string& title);
  void DoMoveCursorToEnd(DocId id);
  void DoActivateWindow(DocId id);
  // Forgets the documents whose window the person at the desktop has closed
  // and closes what the office leaves of those windows.
  void ReapClosedWindows();
  // Called from the office's threads when a shown document has gone.
  void NoteClosedByUser(DocId id);

  // ---- caller side ----
  // Runs `fn` on the worker thread and waits at most `limit`. On time-out the
  // office is killed, which breaks the hung call; the call then fails.
  // `fn` must own what it uses (it may outlive the wait).
  void Run(std::chrono::milliseconds limit, std::function<void()> fn);
  // A call that has to start the office first may also take the start's time.
  std::chrono::milliseconds Limit();
};

}  // namespace platform::libreoffice
