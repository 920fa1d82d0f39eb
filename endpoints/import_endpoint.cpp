#include "endpoints/import_endpoint.hpp"

#include <json/json.h>

#include <cctype>
#include <memory>

#include "base/json_text.hpp"
#include "base/utf.hpp"
#include "endpoints/automation_failure.hpp"
#include "endpoints/last_import.hpp"
#include "endpoints/reply_framing.hpp"
#include "export/export_paths.hpp"
#include "export/file_reading.hpp"
#include "export/purge.hpp"
#include "http/mime_types.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/office_trace.hpp"

namespace {

enum class Kind { kNone, kWord, kExcel, kPowerPoint, kAsIs };

struct KindList {
  Kind kind;
  const char* name;
  const char* extensions[5];
};

// Tested in this order.
constexpr KindList kKinds[] = {
    {Kind::kWord, "msword", {"docx", "doc", "hwp", "rtf", nullptr}},
    {Kind::kExcel, "excel", {"xlsx", "xls", nullptr}},
    {Kind::kPowerPoint, "powerpoint", {"pptx", "ppt", nullptr}},
    {Kind::kAsIs, "asitis", {"html", "htm", "txt", "css", "xml"}},
};

const KindList* KindOf(const std::string& extension) {
  for (const KindList& list : kKinds) {
    for (const char* candidate : list.extensions) {
      if (candidate && extension == candidate) return &list;
    }
  }
  return nullptr;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Closes the import: no dialog object outlives it.
struct DialogScope {
  ~DialogScope() { DiscardMainDialog(); }
};

std::string Refusal(Json::Value& reply, const char* message) {
  reply["message"] = message;
  return StyledJson(reply);
}

// A failed conversion may have left part of its output behind; none of it
// may be taken for the next import's page.
void ClearExportFolder() {
  PurgeWordExport(true);
  PurgeSlidesExport(true);
}

}  // namespace

std::optional<std::string> RunImportPhase(const RequestTree& params) {
  const std::string kind = ReadParam(params, "file_filter");
  const std::string title = ReadParam(params, "dialog_title");
  // Refused before any chooser opens: a cut kind or title would not be
  // what the page asked for.
  if (kind.size() > kMaxFileFilterBytes) {
    return FailureJson("file_filter is too long: at most 259 bytes are accepted");
  }
  if (title.size() > kMaxDialogTitleBytes) {
    return FailureJson("dialog_title is too long: at most 4095 bytes are accepted");
  }
  const std::u16string wide_title = Utf8ToWide(title);
  if (wide_title.size() > kMaxDialogTitleUnits) {
    return FailureJson("dialog_title is too long: at most 2047 UTF-16 characters are accepted");
  }
  SetDialogTitle(wide_title);

  DialogScope scope;
  if (!g_pMainDlg) {
    auto dialog = std::make_unique<CDeskrelayDlg>();
    dialog->Create(CDeskrelayDlg::IDD);
    dialog->ShowWindow(SW_SHOWNORMAL);
    g_pMainDlg = dialog.release();
  }

  std::u16string picked;
  g_pMainDlg->PickImportFile(picked, kind);
  const std::string chosen = WideToUtf8(picked);

  Json::Value reply(Json::objectValue);
  reply["success"] = false;
  const std::size_t dot = chosen.rfind('.');
  if (chosen.empty() || dot == std::string::npos) {
    reply["filename"] = chosen;
    return Refusal(reply, "no valid file selected!");
  }

  const std::string extension = LowerAscii(chosen.substr(dot + 1));
  const std::string mime_type = HttpCore::mime_type_of(chosen);
  const KindList* conversion = mime_type.empty() ? nullptr : KindOf(extension);
  reply["filename"] = chosen;
  reply["mime_type"] = mime_type;
  if (!conversion) return Refusal(reply, "no valid office document file selected!");

  CDeskrelayDlg& dlg = *g_pMainDlg;
  office::ResetTraceLabel();
  try {
    switch (conversion->kind) {
      case Kind::kAsIs:
        // What the copy achieved shows in the export phase, which reads the
        // page (or finds none).
        CopyRegularFile(chosen, ImportHtmlPathUtf8(), kMaxTextFileBytes);
        break;
      case Kind::kWord:
        if (!dlg.CreateWordApp()) return Refusal(reply, "no office word application installed!");
        dlg.ConvertWordToHtml(picked);
        break;
      case Kind::kExcel:
        if (!dlg.CreateExcelApp()) return Refusal(reply, "no office excel application installed!");
        dlg.ConvertExcelToHtml(picked);
        break;
      case Kind::kPowerPoint: {
        const bool word = dlg.CreateWordApp();
        const bool powerpoint = dlg.CreatePowerPointApp();
        if (!word || !powerpoint) return Refusal(reply, "no office powerpoint/msword application installed!");
        dlg.ConvertPowerPointToHtml(picked, kind == "pptslide");
        break;
      }
      case Kind::kNone:
        break;
    }
  } catch (const Automation::AutomationException& e) {
    ClearExportFolder();
    const std::string step = office::LastTraceLabel();
    reply["message"] = "Office automation failed while converting " + chosen +
                       (step.empty() ? std::string() : " at step \"" + step + "\"") + ": " +
                       AutomationFailureMessage(e);
    return StyledJson(reply);
  }

  RecordLastImport(chosen, mime_type, conversion->name);
  return std::nullopt;
}
