// PowerPoint imports a presentation either as one picture per slide or, for
// a web page, through a PDF (RTF for versions before 2013) that Word then
// saves as the import page.

#include <chrono>
#include <thread>

#include "export/file_checks.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/dispatch_result.hpp"
#include "office/export_targets.hpp"
#include "office/office_trace.hpp"
#include "platform/office_members.hpp"

using namespace Automation;

namespace {

constexpr int kTrue = -1;
constexpr int kFalse = 0;

void SavePresentation(DispatchDriver& presentation, const std::u16string& target, int format) {
  presentation.InvokeHelper(powerpoint::kPresSaveAs, DISPATCH_METHOD, VT_EMPTY, nullptr, {VT_BSTR, VT_I4, VT_I4},
                            target, format, kFalse);
}

// Closes the presentation and quits PowerPoint after a failed step, so that
// no instance is left running. Errors of the cleanup itself are dropped: the
// first failure is reported.
void AbandonPowerPoint(CDeskrelayDlg& dlg) {
  if (!dlg.m_pptPresentation.IsEmpty()) {
    try {
      dlg.m_pptPresentation.InvokeHelper(powerpoint::kPresClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    } catch (const AutomationException&) {
    }
    dlg.m_pptPresentation.ReleaseDispatch();
  }
  if (!dlg.m_pptApp.IsEmpty()) {
    try {
      dlg.m_pptApp.InvokeHelper(powerpoint::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    } catch (const AutomationException&) {
    }
    dlg.m_pptApp.ReleaseDispatch();
  }
}

}  // namespace

void CDeskrelayDlg::ConvertPowerPointToHtml(const std::u16string& fileName, bool slidesAsImages) {
  if (!FileOrFolderExists(fileName)) return;

  const office::ExportTargets targets = office::CurrentExportTargets();
  std::u16string between;  // intermediate file to remove, once written

  try {
    office::RequireExportFolder(targets);
    office::Trace("ppt 0");
    DispatchObject* result = nullptr;
    m_pptApp.InvokeHelper(powerpoint::kAppPresentations, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, {});
    office::StoreObjectResult(m_pptPresentations, result);

    office::Trace("ppt 1");
    m_pptApp.InvokeHelper(powerpoint::kAppActivate, DISPATCH_METHOD, VT_EMPTY, nullptr, {});

    office::Trace("ppt 2");
    // Open(FileName, ReadOnly, Untitled, WithWindow).
    result = nullptr;
    m_pptPresentations.InvokeHelper(powerpoint::kPresentationsOpen, DISPATCH_METHOD, VT_DISPATCH, &result,
                                    {VT_BSTR, VT_I4, VT_I4, VT_I4}, fileName, kTrue, kFalse, kTrue);
    office::StoreObjectResult(m_pptPresentation, result);

    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    if (slidesAsImages) {
      office::Trace("ppt 3");
      SavePresentation(m_pptPresentation, targets.slidesJpg, powerpoint::kSaveFormatJpg);
    } else {
      office::Trace("ppt 4");
      std::u16string version;
      m_pptApp.InvokeHelper(powerpoint::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
      if (!(version < std::u16string(u"13.0"))) {
        office::Trace("ppt 4 1");
        between = targets.pdfBetween;
        SavePresentation(m_pptPresentation, between, powerpoint::kSaveFormatPdf);
      } else {
        office::Trace("ppt 4 2");
        between = targets.rtfBetween;
        SavePresentation(m_pptPresentation, between, powerpoint::kSaveFormatRtf);
      }
      office::Trace("ppt 4 3");
      ConvertWordToHtml(between);
      DeleteFileQuietly(between);
      between.clear();
      office::Trace("ppt 4 4");
    }

    office::Trace("ppt 5");
    m_pptPresentation.InvokeHelper(powerpoint::kPresClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    m_pptPresentation.ReleaseDispatch();

    office::Trace("ppt 5 4");
    m_pptApp.InvokeHelper(powerpoint::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
    m_pptApp.ReleaseDispatch();
  } catch (const AutomationException&) {
    if (!between.empty()) DeleteFileQuietly(between);
    AbandonPowerPoint(*this);
    throw;
  }
}
