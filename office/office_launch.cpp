// Starting Word, Excel and PowerPoint through their automation servers.

#include "office/deskrelay_dlg.hpp"
#include "office/office_trace.hpp"
#include "platform/office_members.hpp"
#include "platform/dialogs.hpp"

using namespace Automation;

namespace {

// Word 2013 and later warn before opening a PDF unless told not to in their
// per-user options. Nothing on this platform shows that warning, so there is
// no option to set.
void DisableConvertPdfWarning(const std::u16string& /*version*/) {}

}  // namespace

bool CDeskrelayDlg::CreateWordApp() {
  if (!m_wordApp.CreateDispatch("Word.Application")) {
    platform::Dialogs::Get().ShowMessageBox("Cannot open the MS Word");
    return false;
  }
  std::u16string version;
  m_wordApp.InvokeHelper(word::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  office::Trace("msword version: ", version);

  std::u16string compared;
  m_wordApp.InvokeHelper(word::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &compared, {});
  // Ordinal comparison, as the version texts are compared everywhere here:
  // "16.0" and "9.0" both count as not less than "15.0".
  if (!(compared < std::u16string(u"15.0"))) {
    std::u16string keyVersion;
    m_wordApp.InvokeHelper(word::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &keyVersion, {});
    DisableConvertPdfWarning(keyVersion);
  }
  return true;
}

bool CDeskrelayDlg::CreateExcelApp() {
  if (!m_excelApp.CreateDispatch("Excel.Application")) {
    platform::Dialogs::Get().ShowMessageBox("Cannot open the MS Excel");
    return false;
  }
  std::u16string version;
  m_excelApp.InvokeHelper(excel::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  office::Trace("excel version: ", version);
  return true;
}

bool CDeskrelayDlg::CreatePowerPointApp() {
  if (!m_pptApp.CreateDispatch("PowerPoint.Application")) {
    platform::Dialogs::Get().ShowMessageBox("Cannot open the MS PowerPoint");
    return false;
  }
  std::u16string version;
  m_pptApp.InvokeHelper(powerpoint::kAppVersion, DISPATCH_PROPERTYGET, VT_BSTR, &version, {});
  office::Trace("powerpoint version: ", version);

  // Shrunk to a point and moved off screen: the window must not flash up.
  m_pptApp.InvokeHelper(powerpoint::kAppWidth, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_R4}, 1.0f);
  m_pptApp.InvokeHelper(powerpoint::kAppHeight, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_R4}, 1.0f);
  m_pptApp.InvokeHelper(powerpoint::kAppLeft, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_R4}, -500.0f);
  return true;
}
