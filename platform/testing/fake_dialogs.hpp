// Test double of the dialogs layer: remembers every message box text.
#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.hpp"

namespace platform {

class FakeDialogs : public Dialogs {
 public:
  void ShowMessageBox(const std::string& text) override;
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  std::vector<std::string> messages_;
};

}  // namespace platform
