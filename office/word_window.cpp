#include "office/word_window.hpp"

#include <chrono>
#include <thread>

#include "office/office_trace.hpp"

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
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
  office::Trace("now word dead");
}
