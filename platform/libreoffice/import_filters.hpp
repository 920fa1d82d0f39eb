// Which import filter opens a document in which application, chosen from
// what the file really holds rather than from its name.
#pragma once

#include <string>

#include "platform/libreoffice/engine.hpp"

namespace platform::libreoffice {

struct FilterChoice {
  std::string filter;
  std::string options;
  bool pdf = false;
  // Old binary formats come in many versions (Word 6 and 95, Excel 2 to 97,
  // PowerPoint 95 to 2003) that each need their own filter: the office's own
  // type detection picks it, and the loaded document must be of the app's kind.
  bool detect = false;
};

// "Word", "Excel" or "PowerPoint", for messages.
const char* AppName(DocumentApp app);

// The document service a detected load must give for `app`.
const char* DocumentService(DocumentApp app);

// The filter for the file at `path` in `app`; raises EngineError (kFailed)
// naming what the file holds when `app` cannot open it.
FilterChoice ChooseImportFilter(const std::string& path, DocumentApp app);

}  // namespace platform::libreoffice
