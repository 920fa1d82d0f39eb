#include "platform/testing/fake_file_chooser.hpp"

namespace platform {

void FakeFileChooser::SetAnswer(std::string path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  answer_ = std::move(path);
}

void FakeFileChooser::SetWhileOpen(std::function<void()> while_open) {
  const std::lock_guard<std::mutex> lock(mutex_);
  while_open_ = std::move(while_open);
}

std::vector<FakeFileChooser::Call> FakeFileChooser::calls() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::string FakeFileChooser::ChooseFile(const std::string& title, const std::vector<FileFilter>& filters) {
  std::function<void()> while_open;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({title, filters});
    while_open = while_open_;
  }
  // Unlocked: the callback may look at calls() or change the answer.
  if (while_open) while_open();
  const std::lock_guard<std::mutex> lock(mutex_);
  return answer_;
}

}  // namespace platform
