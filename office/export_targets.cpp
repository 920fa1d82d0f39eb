#include "office/export_targets.hpp"

#include "export/export_paths.hpp"

namespace office {

ExportTargets CurrentExportTargets() {
  ExportTargets t;
  if (!ExportPathsReady()) return t;  // no root accepted: nowhere to write
  const std::u16string& root = ExportRoot();
  t.importHtml = ImportHtmlPath();
  t.slidesJpg = root + u"/import_pptslides.jpg";
  t.pdfBetween = root + u"/import.html.pdf";
  t.rtfBetween = root + u"/import.html.rtf";
  return t;
}

void RequireExportFolder(const ExportTargets& targets) {
  if (targets.importHtml.empty())
    throw Automation::AutomationException(Automation::E_FAIL, "the export folder is not available");
}

}  // namespace office
