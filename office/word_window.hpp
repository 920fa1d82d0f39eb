// The window in which the person at the desktop edits a page in the word
// processor, recognised by its exact title.
#pragma once

#include "platform/top_level_windows.hpp"

// The four titles of the editing window, in the order they are looked for:
// the document under our caption, then under the word processor's own.
extern const char* const kWordWindowTitles[4];

// The first top-level window carrying one of the four titles, or 0.
platform::WindowId FindWordWindow();

// True while a window with one of the four titles exists.
bool IsWordWindowOpen();

// Returns once no window with one of the four titles exists, looking once a
// second. Waits for the user: there is no time limit.
void WaitForWordClosed();
