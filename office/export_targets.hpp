#pragma once
// The fixed files the conversions write, below the export root.

#include <string>

#include "platform/automation.hpp"

namespace office {

struct ExportTargets {
  std::u16string importHtml;    // <root>/import.html: the page
  std::u16string slidesJpg;     // <root>/import_pptslides.jpg: slide pictures go to <root>/import_pptslides/
  std::u16string pdfBetween;    // <root>/import.html.pdf: presentation on its way to Word
  std::u16string rtfBetween;    // <root>/import.html.rtf: the same for old PowerPoint versions
};

// Read from the export path table each time (it is filled at start-up).
// All empty while no export root has been accepted.
ExportTargets CurrentExportTargets();

// Raises AutomationException(E_FAIL) when there is no export folder to write
// into, so that a conversion never writes to a path outside it.
void RequireExportFolder(const ExportTargets& targets);

}  // namespace office
