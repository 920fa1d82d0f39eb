#include "endpoints/automation_failure.hpp"

#include <cstdio>

#include "office/deskrelay_dlg.hpp"

namespace {

constexpr std::size_t kMaxDescription = 512;

}  // namespace

std::string AutomationFailureMessage(const Automation::AutomationException& e) {
  std::string description = e.description();
  if (description.size() > kMaxDescription) {
    description.resize(kMaxDescription);
    // Do not leave a cut UTF-8 sequence at the end.
    while (!description.empty() && (static_cast<unsigned char>(description.back()) & 0xC0) == 0x80)
      description.pop_back();
    if (!description.empty() && static_cast<unsigned char>(description.back()) >= 0xC0) description.pop_back();
  }
  for (char& c : description)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  if (description.empty()) description = "no description";

  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.code()));
  return "office automation failed: " + description + " (" + code + ")";
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

