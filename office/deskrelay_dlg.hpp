#pragma once
// The one dialog class of Docklane. On this platform it has no window: it is
// a plain holder of the office automation drivers, created and destroyed by
// the request handler through g_pMainDlg. Its window operations do nothing.
// Its office members are defined beside it in office/.

#include <cstddef>
#include <string>

#include "platform/automation.hpp"
#include "platform/codepage.hpp"

// ShowWindow commands the request handler uses.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;

class CDeskrelayDlg {
 public:
  enum { IDD = 102 };  // dialog template

  explicit CDeskrelayDlg(void* pParent = nullptr);
  // Releases all nine drivers, then destroys the window.
  virtual ~CDeskrelayDlg();
  CDeskrelayDlg(const CDeskrelayDlg&) = delete;
  CDeskrelayDlg& operator=(const CDeskrelayDlg&) = delete;

  // Window operations (no window here).
  bool Create(unsigned nIDTemplate = IDD, void* pParentWnd = nullptr);
  bool ShowWindow(int nCmdShow);
  // Releases m_wordApp first.
  virtual bool DestroyWindow();

  // Office applications. Each start shows a message box and returns false
  // when the application cannot be started; every failing automation call
  // raises Automation::AutomationException.
  bool CreateWordApp();
  bool CreateExcelApp();
  bool CreatePowerPointApp();

  // Convert `fileName` (UTF-16 path) into the export folder's import page.
  // A missing file does nothing. On an automation failure the application
  // involved is quit (best effort), its drivers are released, intermediate
  // files are removed and the exception travels on.
  void ConvertWordToHtml(const std::u16string& fileName);
  void ConvertExcelToHtml(const std::u16string& fileName);
  void ConvertPowerPointToHtml(const std::u16string& fileName, bool slidesAsImages);

  // Lets the person at the desktop choose the document to import in an
  // open-file chooser titled DialogTitle(), brought to the front. `kind` (the
  // request's file_filter) preselects a filter. `result` receives the full
  // path of an existing file or folder, or stays empty (cancelled, no
  // chooser, or a path of kMaxPickedPath characters or more). Waits for the
  // user without a time limit.
  void PickImportFile(std::u16string& result, const std::string& kind);

  // Opens the page at `path` (UTF-8) for editing in a visible Word window
  // read in `codePage` (0: the system code page), cursor at its end,
  // captioned "Plumeto1 - Word" and brought to the front. Returns at once; a
  // path that names nothing leaves Word untouched. Needs CreateWordApp first.
  void OpenHtmlInWord(const std::string& path, platform::CodePage codePage);
  // When an editing window is open: saves and closes the edited page and
  // quits Word.
  void CloseWordWindow();

  Automation::DispatchDriver m_wordApp;
  Automation::DispatchDriver m_excelApp;
  Automation::DispatchDriver m_pptApp;
  Automation::DispatchDriver m_wordDocuments;
  Automation::DispatchDriver m_wordDocument;
  Automation::DispatchDriver m_excelWorkbooks;
  Automation::DispatchDriver m_excelWorkbook;
  Automation::DispatchDriver m_pptPresentations;
  Automation::DispatchDriver m_pptPresentation;
  void* m_hIcon = nullptr;

 private:
  void ReleaseAllDrivers() noexcept;
};

// The one automation dialog, null when none. Used only on the request
// handler's thread.
extern CDeskrelayDlg* g_pMainDlg;

// The open-file chooser's title (g_dialogTitle): at most kMaxDialogTitle
// UTF-16 characters, longer text is cut. The import endpoint sets it before
// the chooser opens; RaiseOpenDialog reads it from its own thread, so both go
// through a lock.
constexpr std::size_t kMaxDialogTitle = 2047;
void SetDialogTitle(const std::u16string& title);
std::u16string DialogTitle();

// Room for a chosen path, its terminating NUL included, in UTF-16 units.
constexpr std::size_t kMaxPickedPath = 260;

// Finds the chooser's window once it is on screen, retitles it, moves it to
// the height of 200, keeps it above other windows and gives it the focus.
// Gives up after about five seconds, or as soon as the chooser has closed.
// Runs on a thread of its own, which PickImportFile joins.
unsigned RaiseOpenDialog();
