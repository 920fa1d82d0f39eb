// The word processor's window in which the person at the desktop edits a
// page: opening the page in it, recognising it by its title, waiting for it
// to close, and closing it on request.
#include "office/word_window.hpp"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/utf.hpp"
#include "export/file_checks.hpp"
#include "office/by_reference_call.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/dispatch_result.hpp"
#include "office/office_trace.hpp"
#include "platform/codepage.hpp"
#include "platform/office_members.hpp"

using namespace Automation;
using office::kByRef;

namespace {

const char16_t kCaption[] = u"Plumeto1 - Word";
constexpr std::int32_t kWindowState = 3;

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace

const char* const kWordWindowTitles[4] = {
    "import - Plumeto1 - Word",
    "import.html - Plumeto1 - Word",
    "import - Word",
    "import.html - Word",
};

platform::WindowId FindWordWindow() {
  platform::TopLevelWindows& windows = platform::TopLevelWindows::Get();
  for (const char* title : kWordWindowTitles) {
    if (const platform::WindowId window = windows.FindByTitle(title)) return window;
  }
  return 0;
}

bool IsWordWindowOpen() { return FindWordWindow() != 0; }

void WaitForWordClosed() {
  while (IsWordWindowOpen()) {
    office::Trace("still word alive");
    Sleep(1000);
  }
  office::Trace("now word dead");
}

void CDeskrelayDlg::OpenHtmlInWord(const std::string& path, platform::CodePage codePage) {
  // Paths are UTF-8 on this platform.
  std::u16string widePath;
  try {
    widePath = Utf8ToWide(path);
  } catch (const std::range_error&) {
    return;
  }
  if (!FileOrFolderExists(widePath)) return;

  office::Trace("mopen 1");
  m_wordApp.InvokeHelper(word::kAppVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, true);
  // The foreground lock of Windows has no counterpart: the window manager
  // activates the window when asked (step 15).
  m_wordApp.InvokeHelper(word::kAppMethod331, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  m_wordApp.InvokeHelper(word::kAppVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, true);
  m_wordApp.InvokeHelper(word::kAppMethod385, DISPATCH_METHOD, VT_EMPTY, nullptr, {});

  office::Trace("mopen 1 1");
  DispatchObject* result = nullptr;
  m_wordApp.InvokeHelper(word::kAppDocuments, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, {});
  office::StoreObjectResult(m_wordDocuments, result);

  office::Trace("mopen 1 2");
  const platform::CodePage encoding = codePage != 0 ? codePage : platform::SystemCodePage();
  Variant varFileName = Variant::Bstr(widePath);
  Variant varFormat = Variant::I2(static_cast<std::int16_t>(word::kOpenFormatWebPages));
  // A code page above 32,767 (65001) keeps its low 16 bits.
  Variant varEncoding = Variant::I2(static_cast<std::int16_t>(encoding & 0xFFFF));
  Variant missing = Variant::Missing();
  // Open(FileName, 8 omitted, Format, Encoding, 5 omitted).
  std::vector<Variant*> open(16, &missing);
  open[0] = &varFileName;
  open[9] = &varFormat;
  open[10] = &varEncoding;
  result = nullptr;
  office::InvokeWith16ByRef(m_wordDocuments, word::kDocumentsOpen, VT_DISPATCH, &result, open);
  office::StoreObjectResult(m_wordDocument, result);

  office::Trace("mopen 1 3");
  result = nullptr;
  m_wordApp.InvokeHelper(word::kAppSelection, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, {});
  DispatchDriver selection;
  selection.AttachDispatch(result);
  // GoTo(What = line, Which = the last one, 2 omitted); the range it
  // answers is not needed.
  Variant varWhat = Variant::I2(static_cast<std::int16_t>(word::kGoToLine));
  Variant varWhich = Variant::I2(static_cast<std::int16_t>(word::kGoToLast));
  result = nullptr;
  selection.InvokeHelper(word::kSelectionGoTo, DISPATCH_METHOD, VT_DISPATCH, &result,
                         {kByRef, kByRef, kByRef, kByRef}, &varWhat, &varWhich, &missing, &missing);
  DispatchDriver dropped;
  dropped.AttachDispatch(result);

  office::Trace("mopen 1 4");
  m_wordDocument.InvokeHelper(word::kDocActivate, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  m_wordApp.InvokeHelper(word::kAppCaption, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BSTR}, kCaption);
  m_wordApp.InvokeHelper(word::kAppWindowState, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_I4}, kWindowState);

  office::Trace("mopen 1 5");
  Sleep(500);
  if (const platform::WindowId window = FindWordWindow()) platform::TopLevelWindows::Get().Activate(window);
  office::Trace("mopen 1 6");
}

void CDeskrelayDlg::CloseWordWindow() {
  if (!IsWordWindowOpen()) return;
  Variant missing = Variant::Missing();
  m_wordDocument.InvokeHelper(word::kDocSave, DISPATCH_METHOD, VT_EMPTY, nullptr, {});
  m_wordDocument.InvokeHelper(word::kDocClose, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef},
                              &missing, &missing, &missing);
  m_wordDocument.ReleaseDispatch();
  m_wordApp.InvokeHelper(word::kAppVisible, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, {VT_BOOL}, false);
  m_wordApp.InvokeHelper(word::kAppQuit, DISPATCH_METHOD, VT_EMPTY, nullptr, {kByRef, kByRef, kByRef}, &missing,
                         &missing, &missing);
  m_wordApp.ReleaseDispatch();
}
