// The document engine behind the automation servers: one long-lived headless
// LibreOffice, driven through its C++ UNO API.
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

class Engine {
 public:
  using DocId = std::uint64_t;

  explicit Engine(EngineOptions options = {});
  ~Engine();  // stops the office
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The engine the automation servers share; stopped when the process exits.
  static std::shared_ptr<Engine> Shared();

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

// Kills the shared engine's office, if there is one, without waiting for a
// conversion in progress: for the program's shutdown, also on the path that
// skips static destructors. (Otherwise the shared engine stops itself when
// the program exits normally.)
void StopSharedEngine() noexcept;

}  // namespace platform::libreoffice
