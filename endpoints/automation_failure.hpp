#pragma once
// How a request whose office work raised an automation exception is answered.
//
// The request handler catches Automation::AutomationException (it is not a
// std::exception), answers HTTP 200 with header template A and the object
// AutomationFailureReply() builds, { "message": ..., "success": false }, and
// then discards the dialog object (DiscardMainDialog). The conversion has
// already quit the application involved; the server thread and the process
// go on.

#include <json/value.h>

#include <string>

#include "platform/automation.hpp"

// "office automation failed: <description> (0x80020009)", one line of
// printable text (control characters become blanks, at most 512 bytes).
std::string AutomationFailureMessage(const Automation::AutomationException& e);

// { "message": AutomationFailureMessage(e), "success": false }.
Json::Value AutomationFailureReply(const Automation::AutomationException& e);

// Deletes g_pMainDlg, releasing whatever office objects it still holds, and
// sets it to null.
void DiscardMainDialog();

