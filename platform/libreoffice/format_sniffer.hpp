// Recognises a document's kind from its content, so that every file is loaded
// with an import filter chosen for what it really is rather than for its name
// (random bytes named .docx must not load as plain text).
#pragma once

#include <string>

namespace platform::libreoffice {

enum class ContentKind {
  kMissing,               // cannot be read
  kEmpty,                 // zero bytes
  kCompoundFile,          // OLE2 container: .doc, .xls, .ppt, or an encrypted OOXML file
  kBiffStream,            // a bare Excel 2 to 4 worksheet, without a container
  kWordprocessingML,      // .docx and its relatives
  kSpreadsheetML,         // .xlsx
  kPresentationML,        // .pptx
  kOpenDocumentText,      // .odt (zipped or flat XML)
  kOpenDocumentSheet,     // .ods
  kOpenDocumentPresentation,  // .odp
  kRtf,
  kPdf,
  kHtml,
  kPlainText,             // valid UTF-8 text with a text extension
  kUnknown,
};

// Looks at the file's bytes (never more than a bounded amount) and, for plain
// text only, at its extension.
ContentKind SniffFile(const std::string& path);

// A short English name for messages ("a PDF file", "unrecognised content").
const char* DescribeContentKind(ContentKind kind);

}  // namespace platform::libreoffice
