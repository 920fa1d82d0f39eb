// The open-file chooser of an import, and the thread that brings it to the
// front: the request comes from a browser while Docklane has no window, so
// the chooser would otherwise open behind the browser.

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/utf.hpp"
#include "export/file_checks.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/office_trace.hpp"
#include "platform/file_chooser.hpp"
#include "platform/top_level_windows.hpp"

namespace {

std::mutex& TitleLock() {
  static std::mutex lock;
  return lock;
}

std::u16string& TitleText() {
  static std::u16string title;
  return title;
}

struct Filter {
  const char* name;
  std::vector<std::string> patterns;
};

// The five filters of the chooser, in their order (filter index 1 to 5).
const std::vector<Filter>& ImportFilters() {
  static const std::vector<Filter> filters = {
      {"워드, 엑셀 문서 (*.docs,*.doc,*.xlsx,*.xls)", {"*.docx", "*.doc", "*.xlsx", "*.xls"}},
      {"워드 문서 (*.docs,*.doc)", {"*.docx", "*.doc"}},
      {"엑셀 문서 (*.xlsx,*.xls)", {"*.xlsx", "*.xls"}},
      {"HTML 문서(*.html,*.htm)", {"*.html", "*.htm"}},
      {"TEXT 문서(*.txt)", {"*.txt"}},
  };
  return filters;
}

struct KindRow {
  const char* prefix;
  std::size_t compared;
  std::size_t filter_index;
};

// Compared by prefix, in this order; a later match overrides an earlier one.
constexpr KindRow kKindTable[] = {
    {"htm", 3, 1}, {"doc", 3, 2}, {"xls", 3, 3}, {"ppt", 3, 4}, {"pptslide", 8, 4},
    {"pdf", 3, 5}, {"txt", 3, 6}, {"rtf", 3, 7}, {"hwp", 3, 9},
};

std::size_t PreselectedFilter(const std::string& kind) {
  std::size_t index = 1;
  for (const KindRow& row : kKindTable) {
    if (kind.compare(0, row.compared, row.prefix) == 0) index = row.filter_index;
  }
  return index;
}

// The chooser preselects the filter it is given first. The kinds "txt",
// "rtf" and "hwp" name filters 6, 7 and 9, which the list of five does not
// have; as the Windows dialog does with such an index, filter 1 stays
// preselected then.
std::vector<platform::FileFilter> OfferedFilters(std::size_t preselected) {
  const std::vector<Filter>& filters = ImportFilters();
  if (preselected < 1 || preselected > filters.size()) preselected = 1;
  std::vector<platform::FileFilter> offered;
  offered.push_back({filters[preselected - 1].name, filters[preselected - 1].patterns});
  for (std::size_t i = 0; i < filters.size(); ++i) {
    if (i + 1 != preselected) offered.push_back({filters[i].name, filters[i].patterns});
  }
  return offered;
}

// A title the chooser's window can be found by: an empty one would match
// unrelated windows, so the chooser then carries the usual "Open".
std::string ChooserTitle() {
  const std::u16string title = DialogTitle();
  return title.empty() ? std::string("Open") : WideToUtf8(title);
}

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// Set once the chooser has closed: the raise thread then has nothing left to
// raise and ends at its next look instead of polling on for seconds.
std::atomic<bool> g_chooserClosed{true};

}  // namespace

void SetDialogTitle(const std::u16string& title) {
  std::lock_guard<std::mutex> hold(TitleLock());
  TitleText() = title.substr(0, kMaxDialogTitle);
}

std::u16string DialogTitle() {
  std::lock_guard<std::mutex> hold(TitleLock());
  return TitleText();
}

unsigned RaiseOpenDialog() {
  platform::TopLevelWindows& windows = platform::TopLevelWindows::Get();
  const std::string title = ChooserTitle();
  // Our own title first; then the titles an open dialog carries by default.
  const char* const kDefaultTitles[] = {"열기", "open", "Open"};

  Sleep(100);
  platform::WindowId window = windows.FindByTitle(title);
  int passes = 0;
  while (!window) {
    if (g_chooserClosed.load()) return 0;
    for (const char* other : kDefaultTitles) {
      window = windows.FindByTitle(other);
      if (window) break;
    }
    if (!window) {
      Sleep(100);
      window = windows.FindByTitle(title);
    }
    if (passes > 50) return 0;
    ++passes;
  }

  const std::optional<platform::WindowRect> own = windows.Rect(window);
  const std::optional<platform::WindowRect> parent = windows.ParentRect(window);
  // Without an owner window the chooser keeps its own horizontal place.
  int left = own ? own->left : 0;
  if (own && parent) left = own->left - parent->left;
  windows.MoveTopmost(window, left, 200);
  windows.SetTitle(window, title);
  Sleep(100);
  windows.Activate(window);
  return 0;
}

void CDeskrelayDlg::PickImportFile(std::u16string& result, const std::string& kind) {
  g_chooserClosed.store(false);
  std::thread raiser(RaiseOpenDialog);
  // The foreground lock of Windows has no counterpart on X11: a window is
  // activated through the window manager, which nothing holds back here.
  Sleep(1000);

  const std::size_t preselected = PreselectedFilter(kind);
  result.clear();
  office::Trace("dialog opened");
  // The chooser runs as a child process, so the process's current folder
  // never changes and needs no saving.
  const std::string chosen = platform::FileChooser::Get().ChooseFile(ChooserTitle(), OfferedFilters(preselected));
  // The raise thread is joined rather than left running: it must never
  // outlive the layers it calls, and it ends within one look.
  g_chooserClosed.store(true);
  raiser.join();
  if (chosen.empty()) return;

  std::u16string wide;
  try {
    wide = Utf8ToWide(chosen);
  } catch (const std::range_error&) {
    return;  // a name that is not UTF-8 cannot be handed on as a path
  }
  // A longer path cut to size would name another file.
  if (wide.size() >= kMaxPickedPath) return;
  if (!FileOrFolderExists(wide)) return;
  result = wide;
}
