// The members of the Word, Excel and PowerPoint object models that Docklane
// calls, by their dispatch identifiers (DISPIDs). One table for both sides:
// the office code that calls them and the automation servers that answer.
#pragma once

#include "platform/automation.hpp"

namespace word {
using Automation::DISPID;
// Application
constexpr DISPID kAppSelection = 5;
constexpr DISPID kAppDocuments = 6;
constexpr DISPID kAppVisible = 23;
constexpr DISPID kAppVersion = 24;
constexpr DISPID kAppCaption = 80;
constexpr DISPID kAppWindowState = 91;  // property 91
constexpr DISPID kAppMethod331 = 331;
constexpr DISPID kAppMethod385 = 385;
constexpr DISPID kAppQuit = 1105;
// Documents
constexpr DISPID kDocumentsOpen = 20;
// Document
constexpr DISPID kDocSave = 108;
constexpr DISPID kDocActivate = 113;
constexpr DISPID kDocSaveAs = 376;
constexpr DISPID kDocClose = 1105;
// Selection
constexpr DISPID kSelectionGoTo = 173;

// Documents.Open formats, SaveAs formats, GoTo targets.
constexpr int kOpenFormatWebPages = 7;
constexpr int kSaveFormatHtml = 8;
constexpr int kGoToLine = 3;
constexpr int kGoToLast = -1;
}  // namespace word

namespace excel {
using Automation::DISPID;
// Application
constexpr DISPID kAppQuit = 302;
constexpr DISPID kAppDisplayAlerts = 343;
constexpr DISPID kAppVersion = 392;
constexpr DISPID kAppVisible = 558;
constexpr DISPID kAppWorkbooks = 572;
constexpr DISPID kAppAlertBeforeOverwriting = 930;
constexpr DISPID kAppAskToUpdateLinks = 992;
constexpr DISPID kAppEnableEvents = 1213;
// Workbooks
constexpr DISPID kWorkbooksOpen = 1923;
// Workbook
constexpr DISPID kBookClose = 277;
constexpr DISPID kBookSaveAs = 284;

// SaveAs formats.
constexpr int kSaveFormatHtml = 44;
}  // namespace excel

namespace powerpoint {
using Automation::DISPID;
// Application
constexpr DISPID kAppPresentations = 2001;
constexpr DISPID kAppVersion = 2014;
constexpr DISPID kAppQuit = 2021;
constexpr DISPID kAppLeft = 2025;
constexpr DISPID kAppWidth = 2027;
constexpr DISPID kAppHeight = 2028;
constexpr DISPID kAppActivate = 2033;
// Presentations
constexpr DISPID kPresentationsOpen = 2005;
// Presentation
constexpr DISPID kPresSaveAs = 2037;
constexpr DISPID kPresClose = 2039;

// SaveAs formats.
constexpr int kSaveFormatRtf = 6;
constexpr int kSaveFormatJpg = 17;
constexpr int kSaveFormatPdf = 32;
}  // namespace powerpoint
