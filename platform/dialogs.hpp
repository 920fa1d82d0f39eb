// Message boxes of the desktop session.
//
// Docklane has no window of its own; when it cannot start an office
// application it tells the person at the desktop in a small modal box. One
// backend per platform (posix/zenity_dialogs.cpp), a test double in
// testing/fake_dialogs.hpp.
#pragma once

#include <memory>
#include <string>

#include "platform/current_backend.hpp"

namespace platform {

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows `text` (UTF-8) with an OK button and returns when it is closed.
  // Never blocks without a display (then nothing is shown) and never waits
  // longer than the backend's time limit.
  virtual void ShowMessageBox(const std::string& text) = 0;

  // The process-wide dialogs: the platform backend unless a test has
  // installed another one.
  static Dialogs& Get() { return CurrentBackend<Dialogs>::Get(); }

  // Installs `dialogs` as the process-wide one (nullptr restores the
  // platform backend). Not thread-safe; call it before any dialog is shown.
  static void SetForTesting(std::unique_ptr<Dialogs> dialogs) {
    CurrentBackend<Dialogs>::SetForTesting(std::move(dialogs));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<Dialogs> CreatePlatformBackend();
};

}  // namespace platform
