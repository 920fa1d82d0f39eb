#include "endpoints/automation_failure.hpp"

#include "base/utf.hpp"
#include "office/deskrelay_dlg.hpp"

namespace {

constexpr std::size_t kMaxDescription = 512;

}  // namespace

std::string AutomationFailureMessage(const Automation::AutomationException& e) {
  std::string description = e.description();
  CutUtf8ToFit(description, kMaxDescription);
  for (char& c : description)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  if (description.empty()) description = "no description";

  return "office automation failed: " + description + " (" + Automation::FormatHresult(e.code()) + ")";
}

Json::Value AutomationFailureReply(const Automation::AutomationException& e) {
  Json::Value reply(Json::objectValue);
  reply["message"] = AutomationFailureMessage(e);
  reply["success"] = false;
  return reply;
}

void DiscardMainDialog() {
  CDeskrelayDlg* dlg = g_pMainDlg;
  g_pMainDlg = nullptr;
  delete dlg;
}

