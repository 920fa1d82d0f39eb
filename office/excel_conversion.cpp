// Excel turns a workbook into the import page: open read-only, silence its
// prompts, save as a web page, close, quit.

#include <chrono>
#include <exception>
#include <thread>

#include "export/file_checks.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/dispatch_result.hpp"
#include "office/export_targets.hpp"
#include "office/office_trace.hpp"
#include "platform/office_members.hpp"

using namespace Automation;

namespace {

constexpr short kReadOnly = 1;
constexpr int kAccessNoChange = 1;

constexpr VARTYPE V = VT_VARIANT;

// Quits Excel after a failed step, so that no instance is left running.
// Errors of the cleanup itself are dropped: the first failure is reported.
void AbandonExcel(CDeskrelayDlg& dlg) {
  Variant missing = Variant::Missing();
  if (!dlg.m_excelWorkbook.IsEmpty()) {
    try {
      dlg.m_excelWorkbook.InvokeHelper(excel::kBookClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {V, V, V}, missing,
                                       missing, missing);
    } catch (const AutomationException&) {
    }
    dlg.m_excelWorkbook.ReleaseDispatch();
  }
  if (!dlg.m_excelApp.IsEmpty()) {
    try {
      dlg.m_excelApp.InvokeHelper(excel::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    } catch (const AutomationException&) {
    }
    dlg.m_excelApp.ReleaseDispatch();
  }
}

}  // namespace

void CDeskrelayDlg::ConvertExcelToHtml(const std::u16string& fileName) {
  if (!FileOrFolderExists(fileName)) return;

  const office::ExportTargets targets = office::CurrentExportTargets();
  const Variant missing = Variant::Missing();
  const Variant varReadOnly = Variant::I2(kReadOnly);
  const Variant varTarget = Variant::Bstr(targets.importHtml);
  const Variant varFormat = Variant::I2(static_cast<std::int16_t>(excel::kSaveFormatHtml));

  try {
    office::RequireExportFolder(targets);
    office::Trace("fopen xls 1");
    DispatchObject* result = nullptr;
    m_excelApp.InvokeHelper(excel::kAppWorkbooks, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, {});
    office::StoreObjectResult(m_excelWorkbooks, result);

    office::Trace("fopen xls 2");
    // Open(Filename, UpdateLinks omitted, ReadOnly, 12 omitted).
    result = nullptr;
    m_excelWorkbooks.InvokeHelper(excel::kWorkbooksOpen, DISPATCH_METHOD, VT_DISPATCH, &result,
                                  {VT_BSTR, V, V, V, V, V, V, V, V, V, V, V, V, V, V}, fileName, missing, varReadOnly,
                                  missing, missing, missing, missing, missing, missing, missing, missing, missing,
                                  missing, missing, missing);
    office::StoreObjectResult(m_excelWorkbook, result);

    office::Trace("fopen xls 3");
    m_excelApp.InvokeHelper(excel::kAppAlertBeforeOverwriting, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL},
                            false);
    m_excelApp.InvokeHelper(excel::kAppAskToUpdateLinks, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
    m_excelApp.InvokeHelper(excel::kAppDisplayAlerts, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
    m_excelApp.InvokeHelper(excel::kAppEnableEvents, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    office::Trace("fopen xls 4");
    try {
      // SaveAs(Filename, FileFormat, 4 omitted, AccessMode, 4 omitted).
      m_excelWorkbook.InvokeHelper(excel::kBookSaveAs, DISPATCH_METHOD, VT_EMPTY, nullptr,
                                   {V, V, V, V, V, V, VT_I4, V, V, V, V}, varTarget, varFormat, missing, missing,
                                   missing, missing, kAccessNoChange, missing, missing, missing, missing);
    } catch (const std::exception&) {
      office::Trace("fopen xls 4 error");
    }

    office::Trace("fopen xls 5");
    m_excelWorkbook.InvokeHelper(excel::kBookClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {V, V, V}, missing, missing,
                                 missing);
    m_excelWorkbook.ReleaseDispatch();

    office::Trace("fopen xls 6");
    m_excelApp.InvokeHelper(excel::kAppVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
    m_excelApp.InvokeHelper(excel::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    m_excelApp.ReleaseDispatch();
    office::Trace("fopen xls end");
  } catch (const AutomationException&) {
    AbandonExcel(*this);
    throw;
  }
}
