#include "platform/libreoffice/import_filters.hpp"

#include <fstream>

#include "platform/libreoffice/format_sniffer.hpp"

namespace platform::libreoffice {
namespace {

bool IsZipFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

}  // namespace

const char* AppName(DocumentApp app) {
  switch (app) {
    case DocumentApp::kWriter: return "Word";
    case DocumentApp::kCalc: return "Excel";
    case DocumentApp::kImpress: return "PowerPoint";
  }
  return "the office";
}

const char* DocumentService(DocumentApp app) {
  switch (app) {
    case DocumentApp::kWriter: return "com.sun.star.text.TextDocument";
    case DocumentApp::kCalc: return "com.sun.star.sheet.SpreadsheetDocument";
    case DocumentApp::kImpress: return "com.sun.star.presentation.PresentationDocument";
  }
  return "";
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

}  // namespace platform::libreoffice
