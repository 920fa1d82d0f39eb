#include "platform/libreoffice/engine.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XExporter.hpp>
#include <com/sun/star/document/XFilter.hpp>
#include <com/sun/star/drawing/GraphicExportFilter.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.h>
#include <rtl/ustring.hxx>

#include "platform/libreoffice/format_sniffer.hpp"
#include "platform/libreoffice/office_process.hpp"
#include "platform/libreoffice/web_page_layout.hpp"

namespace fs = std::filesystem;
namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace platform::libreoffice {
namespace {

#ifndef DL_LO_PROGRAM_DIR
#define DL_LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

// After a time-out the office is killed, which makes the pending UNO call
// return; this is how long that may take before the engine gives up on it.
constexpr std::chrono::seconds kAbandonLimit{10};
constexpr std::chrono::milliseconds kTerminateGrace{2000};
// Exit status by which soffice asks to be started again (after it has
// prepared a new profile).
constexpr int kRestartRequested = 81;

OUString U(const std::string& s) { return OUString::fromUtf8(s.c_str()); }
std::string S(const OUString& s) { return s.toUtf8().getStr(); }

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& value) {
  css::beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

Sequence<css::beans::PropertyValue> Props(std::vector<css::beans::PropertyValue> v) {
  return Sequence<css::beans::PropertyValue>(v.data(), static_cast<sal_Int32>(v.size()));
}

OUString FileUrl(const fs::path& path) {
  OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(U(path.string()), url) != osl::FileBase::E_None)
    throw EngineError(EngineError::Kind::kFailed, "not a usable path: " + path.string());
  return url;
}

// The process's own UNO runtime: bootstrapped once with the office's
// fundamentalrc as the process's bootstrap file (what URE_BOOTSTRAP would
// name; without it the office's types and services are not found) and kept
// for the life of the process, since tearing it down during exit is not safe.
Reference<css::uno::XComponentContext> LocalContext(const fs::path& programDir) {
  static std::mutex mutex;
  static Reference<css::uno::XComponentContext>* context = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (context == nullptr) {
    const OUString ini = U("file://" + (programDir / "fundamentalrc").string());
    rtl_bootstrap_setIniFileName(ini.pData);
    context = new Reference<css::uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
  }
  return *context;
}

bool IsZipFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

struct FilterChoice {
  std::string filter;
  std::string options;
  bool pdf = false;
  // Old binary formats come in many versions (Word 6 and 95, Excel 2 to 97,
  // PowerPoint 95 to 2003) that each need their own filter: the office's own
  // type detection picks it, and the loaded document must be of the app's kind.
  bool detect = false;
};

// The document service a detected load must give for each app.
const char* DocumentService(DocumentApp app) {
  switch (app) {
    case DocumentApp::kWriter: return "com.sun.star.text.TextDocument";
    case DocumentApp::kCalc: return "com.sun.star.sheet.SpreadsheetDocument";
    case DocumentApp::kImpress: return "com.sun.star.presentation.PresentationDocument";
  }
  return "";
}

const char* AppName(DocumentApp app) {
  switch (app) {
    case DocumentApp::kWriter: return "Word";
    case DocumentApp::kCalc: return "Excel";
    case DocumentApp::kImpress: return "PowerPoint";
  }
  return "the office";
}

FilterChoice ChooseImportFilter(const std::string& path, DocumentApp app) {
  const ContentKind kind = SniffFile(path);
  const bool zip = IsZipFile(path);
  FilterChoice c;
  switch (app) {
    case DocumentApp::kWriter:
      switch (kind) {
        case ContentKind::kCompoundFile: c.detect = true; break;
        case ContentKind::kWordprocessingML: c.filter = "MS Word 2007 XML"; break;
        case ContentKind::kOpenDocumentText: c.filter = zip ? "writer8" : "OpenDocument Text Flat XML"; break;
        case ContentKind::kRtf: c.filter = "Rich Text Format"; break;
        case ContentKind::kHtml: c.filter = "HTML (StarWriter)"; break;
        case ContentKind::kPlainText: c.filter = "Text (encoded)"; c.options = "UTF8,LF,,"; break;
        case ContentKind::kPdf: c.filter = "draw_pdf_import"; c.pdf = true; break;
        default: break;
      }
      break;
    case DocumentApp::kCalc:
      switch (kind) {
        case ContentKind::kCompoundFile:
        case ContentKind::kBiffStream: c.detect = true; break;
        case ContentKind::kSpreadsheetML: c.filter = "Calc MS Excel 2007 XML"; break;
        case ContentKind::kOpenDocumentSheet: c.filter = zip ? "calc8" : "OpenDocument Spreadsheet Flat XML"; break;
        case ContentKind::kHtml: c.filter = "HTML (StarCalc)"; break;
        case ContentKind::kPlainText: c.filter = "Text - txt - csv (StarCalc)"; c.options = "44,34,76,1"; break;
        default: break;
      }
      break;
    case DocumentApp::kImpress:
      switch (kind) {
        case ContentKind::kCompoundFile: c.detect = true; break;
        case ContentKind::kPresentationML: c.filter = "Impress MS PowerPoint 2007 XML"; break;
        case ContentKind::kOpenDocumentPresentation:
          c.filter = zip ? "impress8" : "OpenDocument Presentation Flat XML";
          break;
        default: break;
      }
      break;
  }
  if (c.filter.empty() && !c.detect)
    throw EngineError(EngineError::Kind::kFailed, std::string(AppName(app)) + " cannot open " + path +
                                                      ": " + DescribeContentKind(kind));
  return c;
}

std::string HtmlEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

struct Engine::Impl : std::enable_shared_from_this<Engine::Impl> {
  struct Document {
    Reference<css::lang::XComponent> component;
    DocumentApp app = DocumentApp::kWriter;
    bool pdf = false;
  };

  EngineOptions options;
  OfficeProcess process;

  // Caller side: one call at a time.
  std::mutex callMutex;
  // Hand-over between callers and the worker thread.
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

  // Worker side only.
  Reference<css::uno::XComponentContext> remoteContext;
  Reference<css::bridge::XBridge> bridge;
  Reference<css::frame::XDesktop2> desktop;
  std::map<DocId, Document> documents;
  DocId nextDoc = 1;
  unsigned documentsThisRun = 0;
  std::atomic<bool> killedByCaller{false};  // the running call timed out

  Impl(EngineOptions opts, fs::path workDir)
      : options(std::move(opts)), process(options.programDir, std::move(workDir)) {}

  // ---- worker thread ----

  void WorkerLoop() {
    // Writing to the pipe of an office that has just died raises SIGPIPE in
    // the writing thread, which would end the whole program. Every UNO thread
    // is started from this one and inherits its mask, so blocking the signal
    // here turns it into a failed write (and a failed call) instead.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
      const bool woke = wake.wait_for(lock, options.idleLimit, [&] { return jobPending || quit; });
      if (quit) break;
      if (!woke) {
        // Idle: give the memory back, unless a document is still open.
        if (documents.empty() && process.Pid() > 0) {
          lock.unlock();
          Shutdown(false);
          lock.lock();
        }
        continue;
      }
      std::function<void()> fn = std::move(job);
      jobPending = false;
      jobRunning = true;
      lock.unlock();
      std::exception_ptr error;
      try {
        fn();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      jobRunning = false;
      jobError = error;
      done.notify_all();
    }
  }

  void DropConnection() {
    for (auto& [id, doc] : documents) doc.component.clear();
    documents.clear();
    openDocuments = 0;
    desktop.clear();
    remoteContext.clear();
    if (bridge.is()) {
      Reference<css::lang::XComponent> c(bridge, UNO_QUERY);
      try {
        if (c.is()) c->dispose();
      } catch (...) {
      }
      bridge.clear();
    }
  }

  // Ends the office. Politely (closing documents, asking the office to
  // terminate) only inside a time-limited call; otherwise by signal. A
  // restart keeps the profile, which saves the office its first-start work.
  void Shutdown(bool polite, bool keepProfile = false) {
    if (polite && desktop.is() && process.Running()) {
      for (auto& [id, doc] : documents) {
        try {
          Reference<css::util::XCloseable> c(doc.component, UNO_QUERY);
          if (c.is()) c->close(true);
        } catch (...) {
        }
      }
      try {
        desktop->terminate();
      } catch (...) {
        // The connection ends with the office; that is expected here.
      }
    }
    process.Stop(kTerminateGrace);
    DropConnection();
    if (!keepProfile) process.RemoveWorkDir();
    documentsThisRun = 0;
  }

  // Makes sure a live office is connected; starts one when needed.
  void EnsureRunning() {
    if (desktop.is() && process.Running()) return;
    if (desktop.is() || process.Pid() > 0) {
      // Crashed or killed since the last call.
      DropConnection();
      process.Stop(std::chrono::milliseconds(0));
    }
    Start();
  }

  void Start() {
    if (!OfficeProcess::Installed(options.programDir))
      throw EngineError(EngineError::Kind::kNotInstalled,
                        "LibreOffice is not installed in " + options.programDir.string());
    const auto local = LocalContext(options.programDir);
    std::random_device rd;
    std::ostringstream name;
    name << "docklane_" << ::getpid() << "_" << std::hex << rd() << rd();
    const std::string pipe = name.str();
    const auto deadline = std::chrono::steady_clock::now() + options.startLimit;
    process.Spawn(pipe);
    ++starts;
    int respawns = 0;
    auto connector = css::connection::Connector::create(local);
    Reference<css::connection::XConnection> connection;
    std::string lastError = "no answer";
    while (!desktop.is()) {
      if (std::chrono::steady_clock::now() > deadline) {
        process.Stop(std::chrono::milliseconds(0));
        throw EngineError(EngineError::Kind::kTimedOut,
                          "LibreOffice did not start within " +
                              std::to_string(options.startLimit.count() / 1000) + " s (" + lastError + ")");
      }
      if (!process.Running()) {
        const int status = process.ExitStatus();
        // A fresh profile makes the first start end with a restart request.
        if (status == kRestartRequested && respawns++ < 2) {
          process.Spawn(pipe);
          ++starts;
          continue;
        }
        throw EngineError(EngineError::Kind::kEngineLost,
                          "LibreOffice ended during its start (status " + std::to_string(status) + ")");
      }
      try {
        connection = connector->connect(U("pipe,name=" + pipe));
        auto factory = css::bridge::BridgeFactory::create(local);
        bridge = factory->createBridge(OUString(), "urp", connection, nullptr);
        remoteContext.set(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
        desktop = css::frame::Desktop::create(remoteContext);
      } catch (const css::uno::Exception& e) {
        lastError = S(e.Message);
        DropConnection();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
    }
    process.RecordSockets();
    documentsThisRun = 0;
  }

  // Runs `fn` against a live office, turning office failures into
  // EngineError. Runs on the worker thread.
  template <typename Fn>
  void Guarded(const std::string& what, Fn fn) {
    try {
      EnsureRunning();
      fn();
    } catch (const EngineError&) {
      throw;
    } catch (const css::lang::DisposedException& e) {
      LoseOffice();
      throw EngineError(EngineError::Kind::kEngineLost,
                        what + ": LibreOffice stopped answering (" + S(e.Message) + ")");
    } catch (const css::uno::RuntimeException& e) {
      if (desktop.is() && (!process.Running() || killedByCaller)) {
        LoseOffice();
        throw EngineError(EngineError::Kind::kEngineLost, what + ": LibreOffice stopped answering");
      }
      throw EngineError(EngineError::Kind::kFailed, what + ": " + S(e.Message));
    } catch (const css::uno::Exception& e) {
      throw EngineError(EngineError::Kind::kFailed,
                        what + (e.Message.isEmpty() ? std::string() : ": " + S(e.Message)));
    } catch (const std::exception& e) {
      throw EngineError(EngineError::Kind::kFailed, what + ": " + e.what());
    }
  }

  void LoseOffice() {
    DropConnection();
    process.Stop(std::chrono::milliseconds(0));
  }

  Document& Find(DocId id) {
    auto it = documents.find(id);
    if (it == documents.end())
      throw EngineError(EngineError::Kind::kFailed, "the document is no longer open");
    return it->second;
  }

  DocId DoOpen(const OpenRequest& req) {
    std::error_code ec;
    if (!fs::is_regular_file(req.path, ec))
      throw EngineError(EngineError::Kind::kFailed, "cannot open " + req.path + ": not a file");
    const FilterChoice choice = ChooseImportFilter(req.path, req.app);
    // Bound the office's memory: start afresh between documents now and then.
    if (documents.empty() && documentsThisRun >= options.documentsPerRun && desktop.is())
      Shutdown(true, true);
    DocId id = 0;
    auto load = [&] {
      std::vector<css::beans::PropertyValue> props = {
          Prop("Hidden", css::uno::Any(true)),
          Prop("ReadOnly", css::uno::Any(req.readOnly)),
          Prop("MacroExecutionMode", css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
          Prop("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
      };
      if (!choice.detect) props.push_back(Prop("FilterName", css::uno::Any(U(choice.filter))));
      if (!choice.options.empty()) props.push_back(Prop("FilterOptions", css::uno::Any(U(choice.options))));
      if (!req.password.empty()) props.push_back(Prop("Password", css::uno::Any(U(req.password))));
      Reference<css::lang::XComponent> component =
          desktop->loadComponentFromURL(FileUrl(req.path), "_blank", 0, Props(props));
      if (!component.is())
        throw EngineError(EngineError::Kind::kFailed,
                          "cannot open " + req.path + ": the file is damaged or protected");
      if (choice.detect) {
        Reference<css::lang::XServiceInfo> info(component, UNO_QUERY);
        if (!info.is() || !info->supportsService(U(DocumentService(req.app)))) {
          Reference<css::util::XCloseable> closeable(component, UNO_QUERY);
          if (closeable.is()) closeable->close(true);
          throw EngineError(EngineError::Kind::kFailed, std::string(AppName(req.app)) + " cannot open " +
                                                            req.path + ": it holds another kind of document");
        }
      }
      ++documentsThisRun;
      id = nextDoc++;
      documents[id] = Document{component, req.app, choice.pdf};
      openDocuments = documents.size();
    };
    const unsigned startsBefore = starts;
    try {
      Guarded("cannot open " + req.path, load);
    } catch (const EngineError& e) {
      // An office that died while idle is noticed only by the next call;
      // opening touches no earlier state, so it can go again on a fresh one.
      if (e.kind() != EngineError::Kind::kEngineLost || starts != startsBefore || killedByCaller) throw;
      Guarded("cannot open " + req.path, load);
    }
    return id;
  }

  void StoreTo(const Reference<css::lang::XComponent>& component, const fs::path& target,
               const std::string& filter, const std::string& password = {}) {
    Reference<css::frame::XStorable> storable(component, UNO_QUERY_THROW);
    std::vector<css::beans::PropertyValue> props = {Prop("FilterName", css::uno::Any(U(filter))),
                                                    Prop("Overwrite", css::uno::Any(true))};
    if (!password.empty()) props.push_back(Prop("Password", css::uno::Any(U(password))));
    storable->storeToURL(FileUrl(target), Props(props));
  }

  void ExportGraphic(const Reference<css::lang::XComponent>& source, const fs::path& target,
                     const char* mediaType, sal_Int32 width, sal_Int32 height) {
    auto exporter = css::drawing::GraphicExportFilter::create(remoteContext);
    exporter->setSourceDocument(source);
    std::vector<css::beans::PropertyValue> data;
    if (width > 0 && height > 0) {
      data.push_back(Prop("PixelWidth", css::uno::Any(width)));
      data.push_back(Prop("PixelHeight", css::uno::Any(height)));
    }
    data.push_back(Prop("Quality", css::uno::Any(sal_Int32(90))));
    Reference<css::document::XFilter> filter(exporter, UNO_QUERY_THROW);
    if (!filter->filter(Props({Prop("URL", css::uno::Any(FileUrl(target))),
                               Prop("MediaType", css::uno::Any(OUString::createFromAscii(mediaType))),
                               Prop("FilterData", css::uno::Any(Props(data)))})))
      throw EngineError(EngineError::Kind::kFailed, "cannot write the picture " + target.string());
  }

  fs::path FreshStaging() {
    const fs::path staging = process.StagingDir();
    std::error_code ec;
    fs::remove_all(staging, ec);
    fs::create_directories(staging);
    return staging;
  }

  void DoSaveWebPage(DocId id, const fs::path& target) {
    Document& doc = Find(id);
    Guarded("cannot save " + target.string(), [&] {
      const fs::path staging = FreshStaging();
      const fs::path page = staging / "page.html";
      if (doc.pdf) {
        WritePdfAsPage(doc, page);
      } else if (doc.app == DocumentApp::kWriter) {
        StoreTo(doc.component, page, "HTML (StarWriter)");
      } else if (doc.app == DocumentApp::kCalc) {
        StoreTo(doc.component, page, "HTML (StarCalc)");
      } else {
        throw EngineError(EngineError::Kind::kFailed, "a presentation is not saved as a web page");
      }
      InstallWebPage(page, target);
      std::error_code ec;
      fs::remove_all(staging, ec);
    });
  }

  struct PageItem {
    sal_Int32 y = 0, x = 0, height = 0;
    std::string text;  // a text run, or
    std::string html;  // a picture
  };

  void CollectShapes(const Reference<css::drawing::XShapes>& shapes, const fs::path& staging,
                     std::vector<PageItem>& items, unsigned& pictures) {
    const sal_Int32 count = shapes->getCount();
    for (sal_Int32 i = 0; i < count; ++i) {
      Reference<css::drawing::XShape> shape(shapes->getByIndex(i), UNO_QUERY);
      if (!shape.is()) continue;
      Reference<css::lang::XServiceInfo> info(shape, UNO_QUERY);
      auto is = [&](const char* service) {
        return info.is() && info->supportsService(OUString::createFromAscii(service));
      };
      if (is("com.sun.star.drawing.GroupShape")) {
        Reference<css::drawing::XShapes> group(shape, UNO_QUERY);
        if (group.is()) CollectShapes(group, staging, items, pictures);
        continue;
      }
      const auto pos = shape->getPosition();
      const auto size = shape->getSize();
      PageItem item{pos.Y, pos.X, size.Height, {}, {}};
      if (is("com.sun.star.drawing.GraphicObjectShape")) {
        const std::string name = "picture" + std::to_string(++pictures) + ".png";
        // Pictures at 96 dots per inch of their size on the page.
        const sal_Int32 w = std::max<sal_Int32>(1, size.Width * 96 / 2540);
        const sal_Int32 h = std::max<sal_Int32>(1, size.Height * 96 / 2540);
        ExportGraphic(Reference<css::lang::XComponent>(shape, UNO_QUERY_THROW), staging / name,
                      "image/png", w, h);
        item.html = "<p><img src=\"" + name + "\" width=\"" + std::to_string(w) + "\" height=\"" +
                    std::to_string(h) + "\" alt=\"\"></p>";
      } else {
        Reference<css::text::XTextRange> text(shape, UNO_QUERY);
        if (!text.is()) continue;
        item.text = S(text->getString());
        if (item.text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
      }
      items.push_back(std::move(item));
    }
  }

  // Orders a page's items top to bottom and joins text runs that share a
  // line (a PDF splits a line wherever the font changes) left to right.
  static std::string PageHtml(std::vector<PageItem> items) {
    std::stable_sort(items.begin(), items.end(), [](const PageItem& a, const PageItem& b) {
      return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    std::string html;
    std::vector<PageItem> line;
    auto flush = [&] {
      if (line.empty()) return;
      std::stable_sort(line.begin(), line.end(), [](const PageItem& a, const PageItem& b) { return a.x < b.x; });
      std::string text;
      for (const auto& part : line) text += part.text;
      html += "<p>" + HtmlEscape(text) + "</p>\n";
      line.clear();
    };
    for (auto& item : items) {
      if (item.html.empty()) {
        const bool sameLine = !line.empty() &&
            std::abs(item.y - line.front().y) * 2 <= std::max(item.height, line.front().height);
        if (!sameLine) flush();
        line.push_back(std::move(item));
      } else {
        flush();
        html += item.html + "\n";
      }
    }
    flush();
    return html;
  }

  // A PDF opened as a drawing becomes a page with each PDF page's text and
  // pictures in reading order (top to bottom, left to right).
  void WritePdfAsPage(Document& doc, const fs::path& page) {
    Reference<css::drawing::XDrawPagesSupplier> supplier(doc.component, UNO_QUERY_THROW);
    auto pages = supplier->getDrawPages();
    std::string html =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv=\"content-type\" content=\"text/html; "
        "charset=utf-8\">\n<title></title>\n</head>\n<body>\n";
    unsigned pictures = 0;
    for (sal_Int32 p = 0; p < pages->getCount(); ++p) {
      Reference<css::drawing::XShapes> shapes(pages->getByIndex(p), UNO_QUERY_THROW);
      std::vector<PageItem> items;
      CollectShapes(shapes, page.parent_path(), items, pictures);
      html += "<div class=\"page\" id=\"page" + std::to_string(p + 1) + "\">\n" + PageHtml(std::move(items)) +
              "</div>\n";
    }
    html += "</body>\n</html>\n";
    std::ofstream out(page, std::ios::binary);
    out << html;
    if (!out) throw EngineError(EngineError::Kind::kFailed, "cannot write " + page.string());
  }

  void DoSaveSlides(DocId id, const fs::path& folder, const std::string& extension) {
    Document& doc = Find(id);
    Guarded("cannot save the slides to " + folder.string(), [&] {
      Reference<css::drawing::XDrawPagesSupplier> supplier(doc.component, UNO_QUERY);
      if (!supplier.is())
        throw EngineError(EngineError::Kind::kFailed, "the document has no slides");
      const bool png = extension == "PNG" || extension == "png";
      const fs::path staging = FreshStaging() / "slides";
      fs::create_directories(staging);
      auto pages = supplier->getDrawPages();
      for (sal_Int32 i = 0; i < pages->getCount(); ++i) {
        Reference<css::lang::XComponent> page(pages->getByIndex(i), UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> props(page, UNO_QUERY_THROW);
        sal_Int32 width = 0, height = 0;
        props->getPropertyValue("Width") >>= width;
        props->getPropertyValue("Height") >>= height;
        // PowerPoint's default export resolution: 96 dots per inch.
        ExportGraphic(page, staging / ("Slide" + std::to_string(i + 1) + "." + extension),
                      png ? "image/png" : "image/jpeg", width * 96 / 2540, height * 96 / 2540);
      }
      std::error_code ec;
      if (!fs::is_directory(folder.parent_path(), ec))
        throw EngineError(EngineError::Kind::kFailed, "the folder " + folder.parent_path().string() + " does not exist");
      fs::remove_all(folder, ec);
      fs::rename(staging, folder, ec);
      if (ec) {
        fs::create_directories(folder);
        for (const auto& entry : fs::directory_iterator(staging))
          fs::copy_file(entry.path(), folder / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
      fs::remove_all(process.StagingDir(), ec);
    });
  }

  void DoSaveCopy(DocId id, const fs::path& target, const std::string& filter, const std::string& password) {
    Document& doc = Find(id);
    Guarded("cannot save " + target.string(), [&] { StoreTo(doc.component, target, filter, password); });
  }

  void DoSave(DocId id) {
    Document& doc = Find(id);
    Guarded("cannot save the document", [&] {
      Reference<css::frame::XStorable> storable(doc.component, UNO_QUERY_THROW);
      storable->store();
    });
  }

  void DoClose(DocId id) {
    auto it = documents.find(id);
    if (it == documents.end()) return;
    Reference<css::lang::XComponent> component = it->second.component;
    documents.erase(it);
    openDocuments = documents.size();
    if (!desktop.is() || !process.Running()) return;
    Guarded("cannot close the document", [&] {
      Reference<css::util::XCloseable> closeable(component, UNO_QUERY);
      if (closeable.is())
        closeable->close(true);
      else
        component->dispose();
    });
  }

  int DoPageCount(DocId id) {
    Document& doc = Find(id);
    int count = 0;
    Guarded("cannot count the pages", [&] {
      if (doc.app == DocumentApp::kCalc && !doc.pdf) {
        Reference<css::sheet::XSpreadsheetDocument> sheets(doc.component, UNO_QUERY_THROW);
        Reference<css::container::XIndexAccess> index(sheets->getSheets(), UNO_QUERY_THROW);
        count = index->getCount();
        return;
      }
      Reference<css::drawing::XDrawPagesSupplier> pages(doc.component, UNO_QUERY);
      if (pages.is()) {
        count = pages->getDrawPages()->getCount();
        return;
      }
      Reference<css::frame::XModel> model(doc.component, UNO_QUERY_THROW);
      Reference<css::beans::XPropertySet> view(model->getCurrentController(), UNO_QUERY_THROW);
      view->getPropertyValue("PageCount") >>= count;
    });
    return count;
  }

  // ---- caller side ----

  // Runs `fn` on the worker thread and waits at most `limit`. On time-out the
  // office is killed, which breaks the hung call; the call then fails.
  // `fn` must own what it uses (it may outlive the wait).
  void Run(std::chrono::milliseconds limit, std::function<void()> fn) {
    std::lock_guard<std::mutex> callLock(callMutex);
    std::unique_lock<std::mutex> lock(mutex);
    if (jobRunning || jobPending)
      throw EngineError(EngineError::Kind::kEngineLost, "LibreOffice is not answering");
    job = std::move(fn);
    jobPending = true;
    killedByCaller = false;
    jobError = nullptr;
    wake.notify_all();
    const bool finished = done.wait_for(lock, limit, [&] { return !jobPending && !jobRunning; });
    if (!finished) {
      killedByCaller = true;
      lock.unlock();
      process.Stop(std::chrono::milliseconds(0));
      lock.lock();
      done.wait_for(lock, kAbandonLimit, [&] { return !jobPending && !jobRunning; });
      throw EngineError(EngineError::Kind::kTimedOut,
                        "LibreOffice did not finish within " + std::to_string(limit.count() / 1000.0).substr(0, 4) +
                            " s and was stopped");
    }
    if (jobError) std::rethrow_exception(jobError);
  }

  // A call that has to start the office first may also take the start's time.
  std::chrono::milliseconds Limit() { return options.callLimit + (process.Pid() > 0 ? std::chrono::milliseconds(0) : options.startLimit); }
};

Engine::Engine(EngineOptions options) {
  if (options.programDir.empty()) options.programDir = DefaultProgramDir();
  if (options.baseDir.empty()) options.baseDir = DefaultEngineBaseDir();
  static std::atomic<unsigned> instances{0};
  OfficeProcess::RemoveStaleWorkDirs(options.baseDir);
  fs::path workDir = options.baseDir / OfficeProcess::WorkDirName(++instances);
  impl_ = std::make_shared<Impl>(std::move(options), std::move(workDir));
  impl_->worker = std::thread([impl = impl_] { impl->WorkerLoop(); });
}

Engine::~Engine() {
  try {
    Stop();
  } catch (...) {
  }
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->quit = true;
    impl_->wake.notify_all();
  }
  std::unique_lock<std::mutex> lock(impl_->mutex);
  const bool idle = impl_->done.wait_for(lock, kAbandonLimit, [&] { return !impl_->jobRunning; });
  lock.unlock();
  if (idle) {
    impl_->worker.join();
  } else {
    // A call that never came back: leave its thread (it owns a share of the
    // state) rather than hang the exit.
    impl_->worker.detach();
  }
}

namespace {
std::atomic<bool> sharedEngineCreated{false};
}

std::shared_ptr<Engine> Engine::Shared() {
  // Objects still holding the engine at exit would keep it alive; the office
  // goes with the program all the same.
  struct Holder {
    std::shared_ptr<Engine> engine;
    ~Holder() { engine->Kill(); }
  };
  static Holder holder{[] {
    sharedEngineCreated = true;
    return std::make_shared<Engine>();
  }()};
  return holder.engine;
}

fs::path Engine::DefaultProgramDir() { return DL_LO_PROGRAM_DIR; }

bool Engine::Installed() const { return OfficeProcess::Installed(impl_->options.programDir); }

Engine::DocId Engine::Open(const OpenRequest& request) {
  auto result = std::make_shared<DocId>(0);
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, request, result] { *result = impl->DoOpen(request); });
  return *result;
}

void Engine::SaveWebPage(DocId doc, const fs::path& target) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, target] { impl->DoSaveWebPage(doc, target); });
}

void Engine::SaveSlidePictures(DocId doc, const fs::path& folder, const std::string& extension) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, folder, extension] { impl->DoSaveSlides(doc, folder, extension); });
}

void Engine::SaveCopy(DocId doc, const fs::path& target, const std::string& filterName,
                      const std::string& password) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, target, filterName, password] {
    impl->DoSaveCopy(doc, target, filterName, password);
  });
}

void Engine::Save(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc] { impl->DoSave(doc); });
}

void Engine::Close(DocId doc) {
  auto impl = impl_;
  impl_->Run(impl_->options.callLimit, [impl, doc] { impl->DoClose(doc); });
}

int Engine::PageCount(DocId doc) {
  auto result = std::make_shared<int>(0);
  auto impl = impl_;
  impl_->Run(impl_->Limit(), [impl, doc, result] { *result = impl->DoPageCount(doc); });
  return *result;
}

void Engine::Stop() {
  auto impl = impl_;
  try {
    impl_->Run(std::chrono::milliseconds(5000), [impl] { impl->Shutdown(true); });
  } catch (const EngineError&) {
    // Killed by the time-out; finish the clean-up here.
  }
  impl_->process.Stop(std::chrono::milliseconds(0));
  impl_->process.RemoveWorkDir();
}

pid_t Engine::OfficePid() const { return impl_->process.Pid(); }
unsigned Engine::Starts() const { return impl_->starts; }
std::size_t Engine::OpenDocuments() const { return impl_->openDocuments; }
const EngineOptions& Engine::Options() const { return impl_->options; }

void Engine::Kill() noexcept {
  impl_->killedByCaller = true;
  impl_->process.Stop(std::chrono::milliseconds(0));
  impl_->process.RemoveWorkDir();
}

void StopSharedEngine() noexcept {
  if (sharedEngineCreated) Engine::Shared()->Kill();
}

}  // namespace platform::libreoffice
