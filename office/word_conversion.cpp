// Word turns a document into the import page: open, save as a web page in
// UTF-8, close, quit.

#include <vector>

#include "export/file_checks.hpp"
#include "office/by_reference_call.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/dispatch_result.hpp"
#include "office/export_targets.hpp"
#include "office/office_trace.hpp"
#include "platform/codepage.hpp"
#include "platform/office_members.hpp"

using namespace Automation;
using office::kByRef;

namespace {

// Quits Word after a failed step, so that no instance is left running.
// Errors of the cleanup itself are dropped: the first failure is reported.
void AbandonWord(CDeskrelayDlg& dlg) {
  Variant missing = Variant::Missing();
  if (!dlg.m_wordDocument.IsEmpty()) {
    try {
      dlg.m_wordDocument.InvokeHelper(word::kDocClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef},
                                      &missing, &missing, &missing);
    } catch (const AutomationException&) {
    }
    dlg.m_wordDocument.ReleaseDispatch();
  }
  if (!dlg.m_wordApp.IsEmpty()) {
    try {
      dlg.m_wordApp.InvokeHelper(word::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef}, &missing,
                                 &missing, &missing);
    } catch (const AutomationException&) {
    }
    dlg.m_wordApp.ReleaseDispatch();
  }
}

}  // namespace

void CDeskrelayDlg::ConvertWordToHtml(const std::u16string& fileName) {
  if (!FileOrFolderExists(fileName)) return;

  const office::ExportTargets targets = office::CurrentExportTargets();
  Variant varFileName = Variant::Bstr(fileName);
  Variant varTarget = Variant::Bstr(targets.importHtml);
  Variant varFormat = Variant::I2(static_cast<std::int16_t>(word::kSaveFormatHtml));
  Variant varEncoding = Variant::I2(static_cast<std::int16_t>(platform::kCodePageUtf8 & 0xFFFF));  // its low 16 bits
  Variant missing = Variant::Missing();

  try {
    office::RequireExportFolder(targets);
    office::Trace("msword 0");
    DispatchObject* result = nullptr;
    m_wordApp.InvokeHelper(word::kAppDocuments, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, {});
    office::StoreObjectResult(m_wordDocuments, result);

    office::Trace("msword 1");
    // Open(FileName, 15 omitted).
    std::vector<Variant*> open(16, &missing);
    open[0] = &varFileName;
    result = nullptr;
    office::InvokeWith16ByRef(m_wordDocuments, word::kDocumentsOpen, VT_DISPATCH, &result, open);
    office::StoreObjectResult(m_wordDocument, result);

    office::Trace("msword 2");
    // SaveAs(FileName, FileFormat, 9 omitted, Encoding, 4 omitted).
    std::vector<Variant*> save(16, &missing);
    save[0] = &varTarget;
    save[1] = &varFormat;
    save[11] = &varEncoding;
    office::InvokeWith16ByRef(m_wordDocument, word::kDocSaveAs, VT_EMPTY, nullptr, save);

    office::Trace("msword 3");
    m_wordDocument.InvokeHelper(word::kDocClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef}, &missing,
                                &missing, &missing);
    m_wordDocument.ReleaseDispatch();

    office::Trace("msword 4");
    m_wordApp.InvokeHelper(word::kAppVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);

    office::Trace("msword 5");
    m_wordApp.InvokeHelper(word::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef}, &missing,
                           &missing, &missing);
    m_wordApp.ReleaseDispatch();
  } catch (const AutomationException&) {
    AbandonWord(*this);
    throw;
  }
}
