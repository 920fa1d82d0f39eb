#include "endpoints/edit_endpoints.hpp"

#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "base/json_text.hpp"
#include "endpoints/automation_failure.hpp"
#include "export/export_paths.hpp"
#include "export/purge.hpp"
#include "office/deskrelay_dlg.hpp"
#include "office/word_window.hpp"
#include "platform/codepage.hpp"

namespace {

constexpr char kNewPath[] = "/edit_new_html";
// The body size assumed when the request announces none.
constexpr std::size_t kDefaultBodyLength = 65535;

void Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// The page as it is written, and the code page it is then in (0: the
// system's), which is also the one the word processor must read it in.
struct EncodedPage {
  std::string bytes;
  platform::CodePage code_page = 0;
};

EncodedPage Encode(const std::string& text, platform::CodePage code_page) {
  const platform::CodePage system = platform::SystemCodePage();
  // Western systems keep the page in UTF-8.
  if (code_page == 0 && (system == 1252 || system == 437)) return {text, platform::kCodePageUtf8};
  std::string bytes;
  // A code page nobody has: the page stays in UTF-8 rather than vanish
  // (invalid UTF-8 becomes U+FFFD on the way).
  if (!platform::Utf8ToCodePage(code_page, text, bytes)) return {text, platform::kCodePageUtf8};
  return {std::move(bytes), code_page};
}

// The page written anew at the import page path; false when it cannot be.
bool WriteImportPage(const std::string& bytes) {
  const std::string& path = ImportHtmlPathUtf8();
  std::remove(path.c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace

std::string WriteReport(std::size_t bytes, long code_page, unsigned system_code_page) {
  char report[160];
  std::snprintf(report, sizeof report,
                "{\"success\":true,\"message\":\"%zu bytes in CP%ld (system: CP%u ) written into import.html\"}",
                bytes, code_page, system_code_page);
  return report;
}

std::optional<EditReply> RunEditPhase(const std::string& path, const RequestTree& params,
                                      const RequestTree& fields) {
  // A dialog of an earlier edit is not used again; its Word window, if
  // any, stays with the person at the desktop.
  DiscardMainDialog();
  auto dialog = std::make_unique<CDeskrelayDlg>();
  dialog->Create(CDeskrelayDlg::IDD);
  dialog->ShowWindow(SW_HIDE);
  g_pMainDlg = dialog.release();

  if (!g_pMainDlg->CreateWordApp()) {
    return EditReply{FailureJson("MS Office Word Application not found"), ReplyTemplate::kB};
  }

  // The working buffer holds twice the announced body and a NUL; the page,
  // and the page in its code page, must fit in it. One that does not is
  // refused rather than cut: a cut page would lose the person's text.
  const auto announced = static_cast<std::size_t>(AtoiLike(fields.get<std::string>("http_content_length", "0")));
  const std::size_t capacity = 2 * (announced == 0 ? kDefaultBodyLength : announced) + 1;
  const std::string html = ReadParam(params, "html_data");
  // The text ends at a NUL, as a C string would.
  const std::string text = html.substr(0, html.find('\0'));
  const long code_page = AtoiLike(ReadParam(params, "html_codepage"));
  EncodedPage page;
  if (html.size() < capacity) page = Encode(text, static_cast<platform::CodePage>(code_page));
  if (html.size() >= capacity || page.bytes.size() >= capacity) {
    DiscardMainDialog();
    return EditReply{FailureJson("html_data is too long: the page takes " +
                                     std::to_string(std::max(html.size(), page.bytes.size())) +
                                     " bytes, more than the " + std::to_string(capacity - 1) +
                                     " bytes that the request's Content-Length allows"),
                     ReplyTemplate::kA};
  }

  std::size_t written = text.size();
  if (ExportPathsReady() && WriteImportPage(page.bytes)) {
    written = page.bytes.size();
    DeleteFolderTree(SupportFolderPath(), SupportFolderPath());
  }
  // Opened in the code page it was written in: a page kept in UTF-8 read as
  // the system's Western code page would come up garbled, and be saved so.
  g_pMainDlg->OpenHtmlInWord(ImportHtmlPathUtf8(), page.code_page);

  if (path == kNewPath) {
    return EditReply{WriteReport(written, code_page, platform::SystemCodePage()), ReplyTemplate::kA};
  }
  Sleep(3000);
  return std::nullopt;
}

std::string CheckWordAliveReply() {
  bool alive = false;
  if (g_pMainDlg) {
    alive = IsWordWindowOpen();
    // The person closed the window: the dialog is of no further use.
    if (!alive) DiscardMainDialog();
  }
  Json::Value reply(Json::objectValue);
  reply["success"] = true;
  reply["msword_alive"] = alive;
  return StyledJson(reply);
}

std::string CloseWordWindowReply() {
  if (g_pMainDlg) {
    g_pMainDlg->CloseWordWindow();
    DiscardMainDialog();
    Sleep(1000);
  }
  Json::Value reply(Json::objectValue);
  reply["success"] = true;
  reply["message"] = "Office Word Application closed";
  return StyledJson(reply);
}
