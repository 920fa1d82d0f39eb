// Message boxes shown by zenity (a GTK dialog program run as a child).
#pragma once

#include <chrono>
#include <string>

#include "platform/dialogs.hpp"

namespace platform {

class ZenityDialogs : public Dialogs {
 public:
  // `program` is looked up in PATH. A box closes itself after `timeout` (at
  // least one second); a program still running `grace` later is killed.
  explicit ZenityDialogs(std::string program = "zenity",
                         std::chrono::seconds timeout = std::chrono::seconds(60),
                         std::string title = "Docklane",
                         std::chrono::milliseconds grace = std::chrono::seconds(5));

  void ShowMessageBox(const std::string& text) override;

  // True when the session has a display to show a box on.
  static bool HasDisplay();

 private:
  std::string program_;
  std::chrono::seconds timeout_;
  std::string title_;
  std::chrono::milliseconds grace_;
};

}  // namespace platform
