#include "platform/testing/fake_dialogs.hpp"

namespace platform {

void FakeDialogs::ShowMessageBox(const std::string& text) { messages_.push_back(text); }

}  // namespace platform
