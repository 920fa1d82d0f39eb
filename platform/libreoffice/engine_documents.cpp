// Opening, saving and closing documents in the office: the engine's work on
// the worker thread.
#include <algorithm>
#include <fstream>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XFilter.hpp>
#include <com/sun/star/drawing/GraphicExportFilter.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include "platform/libreoffice/engine_impl.hpp"
#include "platform/libreoffice/import_filters.hpp"
#include "platform/libreoffice/pdf_page.hpp"
#include "platform/libreoffice/uno_support.hpp"
#include "platform/libreoffice/web_page_layout.hpp"

namespace fs = std::filesystem;

namespace platform::libreoffice {

Engine::DocId Engine::Impl::DoOpen(const OpenRequest& req) {
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
    documents[id] = Document{component, req.app, choice.pdf, {}};
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

void Engine::Impl::StoreTo(const Reference<css::lang::XComponent>& component, const fs::path& target,
                           const std::string& filter, const std::string& password) {
  Reference<css::frame::XStorable> storable(component, UNO_QUERY_THROW);
  std::vector<css::beans::PropertyValue> props = {Prop("FilterName", css::uno::Any(U(filter))),
                                                  Prop("Overwrite", css::uno::Any(true))};
  if (!password.empty()) props.push_back(Prop("Password", css::uno::Any(U(password))));
  storable->storeToURL(FileUrl(target), Props(props));
}

void Engine::Impl::ExportGraphic(const Reference<css::lang::XComponent>& source, const fs::path& target,
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

fs::path Engine::Impl::FreshStaging() {
  const fs::path staging = process.StagingDir();
  std::error_code ec;
  fs::remove_all(staging, ec);
  fs::create_directories(staging);
  return staging;
}

void Engine::Impl::DoSaveWebPage(DocId id, const fs::path& target) {
  Document& doc = Find(id);
  Guarded("cannot save " + target.string(), [&] {
    const fs::path staging = FreshStaging();
    const fs::path page = staging / "page.html";
    if (doc.pdf) {
      WritePdfAsPage(doc.component, page,
                     [this](const Reference<css::lang::XComponent>& source, const fs::path& to, const char* type,
                            sal_Int32 width, sal_Int32 height) { ExportGraphic(source, to, type, width, height); });
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

void Engine::Impl::DoSaveSlides(DocId id, const fs::path& folder, const std::string& extension) {
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

void Engine::Impl::DoSaveCopy(DocId id, const fs::path& target, const std::string& filter, const std::string& password) {
  Document& doc = Find(id);
  Guarded("cannot save " + target.string(), [&] { StoreTo(doc.component, target, filter, password); });
}

void Engine::Impl::DoSave(DocId id) {
  Document& doc = Find(id);
  Guarded("cannot save the document", [&] {
    Reference<css::frame::XStorable> storable(doc.component, UNO_QUERY_THROW);
    storable->store();
  });
}

void Engine::Impl::DoClose(DocId id) {
  auto it = documents.find(id);
  if (it == documents.end()) return;
  // A shown document goes with its window; closing only the document would
  // leave the window behind with the office's start page in it.
  Reference<css::util::XCloseable> closeable(it->second.frame.is() ? Reference<css::uno::XInterface>(it->second.frame)
                                                                   : Reference<css::uno::XInterface>(it->second.component),
                                             UNO_QUERY);
  Reference<css::lang::XComponent> component = it->second.component;
  documents.erase(it);
  openDocuments = documents.size();
  if (!desktop.is() || !process.Running()) return;
  Guarded("cannot close the document", [&] {
    if (closeable.is())
      closeable->close(true);
    else
      component->dispose();
  });
}

int Engine::Impl::DoPageCount(DocId id) {
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

}  // namespace platform::libreoffice
