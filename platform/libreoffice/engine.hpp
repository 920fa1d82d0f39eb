// The document engine behind the automation servers: a long-lived LibreOffice
// (headless for conversions, visible for editing), driven through its C++ UNO
// API.
//
// Started on first use with a private, seeded profile and its own temporary
// folder below the user's runtime (or cache) folder; one call at a time; every
// call bounded by a time limit (a hung office is killed, the call fails and the
// next call starts a fresh one); a crashed office is restarted on the next
// call; restarted after a number of documents to bound its memory; stopped
// after a long idle time and when the process ends.
//
// No UNO type appears here, so the servers and the rest of the program do not
// depend on the office's headers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform::libreoffice {

struct EngineOptions {
  std::filesystem::path programDir;  // empty: the office this program was built against
  std::filesystem::path baseDir;     // empty: DefaultEngineBaseDir()
  std::chrono::milliseconds startLimit{30000};
  std::chrono::milliseconds callLimit{60000};
  std::chrono::milliseconds idleLimit{10 * 60 * 1000};
  unsigned documentsPerRun = 100;  // restart after this many documents
  // An office whose documents can be shown in windows on the desktop (the
  // process's DISPLAY) for the person there to edit, instead of a headless one.
  bool visible = false;
};

class EngineError : public std::runtime_error {
 public:
  enum class Kind {
    kFailed,        // the office refused (cannot open, cannot save, ...)
    kTimedOut,      // the call did not finish within its limit; the office was killed
    kEngineLost,    // the office died during the call
    kNotInstalled,  // there is no office to start
  };
  EngineError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// Which application opens a document, and so which import filters apply.
enum class DocumentApp { kWriter, kCalc, kImpress };

struct OpenRequest {
  std::string path;  // absolute file path (UTF-8)
  DocumentApp app = DocumentApp::kWriter;
  bool readOnly = true;
  std::string password;  // empty: none given
};

// A page shown in a window of a visible engine for the person at the desktop
// to edit.
struct EditRequest {
  std::string path;      // where the page is saved (absolute, UTF-8)
  std::string utf8Page;  // the page's text, in UTF-8 and declared as such
  std::string title;     // the window's whole title
  // Runs after every save of the page, by the person (Ctrl+S, or answering
  // the office's own question when the window closes) or by Save(), before
  // the office goes on. Called on one of the office's connection threads;
  // must not call the engine.
  std::function<void()> onSaved;
};

class Engine {
 public:
  using DocId = std::uint64_t;

  explicit Engine(EngineOptions options = {});
  ~Engine();  // stops the office
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The engine the automation servers share; stopped when the process exits.
  static std::shared_ptr<Engine> Shared();
  // The visible engine in which pages are edited, separate from the one that
  // converts: an editing window never blocks a conversion. Stopped when the
  // process exits.
  static std::shared_ptr<Engine> SharedEditing();

  // True when the office is installed (it is not started to find out).
  bool Installed() const;

  // Opens a document with the import filter that its content calls for.
  DocId Open(const OpenRequest& request);
  // Saves the document as Word saves a web page: `target` (.html, UTF-8) and
  // the support folder beside it (see web_page_layout.hpp). A PDF becomes a
  // page with every page's text and pictures.
  void SaveWebPage(DocId doc, const std::filesystem::path& target);
  // Saves one picture per slide or page as <folder>/Slide<n>.<extension>
  // (extension "JPG" or "PNG"), replacing the folder.
  void SaveSlidePictures(DocId doc, const std::filesystem::path& folder,
                         const std::string& extension = "JPG");
  // Stores a copy with the office export filter `filterName`
  // (e.g. "impress_pdf_Export", "MS Word 2007 XML"), encrypted with
  // `password` when one is given.
  void SaveCopy(DocId doc, const std::filesystem::path& target, const std::string& filterName,
                const std::string& password = {});
  // Stores the document where it came from, in its own format.
  void Save(DocId doc);
  // Closes the document; an unknown or already lost one is ignored.
  void Close(DocId doc);
  // Pages (Writer), sheets (Calc) or slides (Impress).
  int PageCount(DocId doc);

  // Visible engines only. Shows the page in a window of its own, titled as
  // asked. The window belongs to the person at the desktop from then on:
  // when they close it (saving or not) the document is closed, and calls on
  // it fail as on any closed document.
  DocId OpenForEditing(const EditRequest& request);
  void SetWindowTitle(DocId doc, const std::string& title);
  // Puts the text cursor at the end of the document.
  void MoveCursorToEnd(DocId doc);
  // Brings the document's window to the front with the input focus.
  void ActivateWindow(DocId doc);

  // Ends the office and removes its work folder; the next call starts it anew.
  // Waits for a call in progress (up to its limit).
  void Stop();
  // Kills the office at once, without waiting for a call in progress (which
  // then fails), and removes what it leaves. For a program that is ending.
  void Kill() noexcept;

  // Diagnostics for tests and benchmarks.
  pid_t OfficePid() const;       // -1 when not running
  unsigned Starts() const;       // office processes started so far
  std::size_t OpenDocuments() const;
  const EngineOptions& Options() const;

  // The office program folder used when none is given.
  static std::filesystem::path DefaultProgramDir();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// Kills the shared engines' offices, if there are any, without waiting for a
// call in progress: for the program's shutdown, also on the path that skips
// static destructors. (Otherwise the shared engines stop themselves when the
// program exits normally.)
void StopSharedEngine() noexcept;

}  // namespace platform::libreoffice
