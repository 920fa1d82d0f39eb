#include "office/deskrelay_dlg.hpp"

CDeskrelayDlg* g_pMainDlg = nullptr;

CDeskrelayDlg::CDeskrelayDlg(void* /*pParent*/) {}

CDeskrelayDlg::~CDeskrelayDlg() {
  ReleaseAllDrivers();
  DestroyWindow();
}

bool CDeskrelayDlg::Create(unsigned /*nIDTemplate*/, void* /*pParentWnd*/) { return true; }

bool CDeskrelayDlg::ShowWindow(int /*nCmdShow*/) { return false; }

bool CDeskrelayDlg::DestroyWindow() {
  m_wordApp.ReleaseDispatch();
  return true;
}

void CDeskrelayDlg::ReleaseAllDrivers() noexcept {
  m_wordApp.ReleaseDispatch();
  m_excelApp.ReleaseDispatch();
  m_pptApp.ReleaseDispatch();
  m_wordDocuments.ReleaseDispatch();
  m_wordDocument.ReleaseDispatch();
  m_excelWorkbooks.ReleaseDispatch();
  m_excelWorkbook.ReleaseDispatch();
  m_pptPresentations.ReleaseDispatch();
  m_pptPresentation.ReleaseDispatch();
}
