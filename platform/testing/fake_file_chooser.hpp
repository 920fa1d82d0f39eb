// Test double of the file chooser: answers as scripted, records every call,
// and can run a test's code while it is "open".
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_chooser.hpp"

namespace platform {

class FakeFileChooser final : public FileChooser {
 public:
  struct Call {
    std::string title;
    std::vector<FileFilter> filters;
  };

  // What every later ChooseFile returns ("" is a cancelled chooser).
  void SetAnswer(std::string path);
  // Runs `while_open` inside each ChooseFile, after the call is recorded and
  // before the answer is returned, on the calling thread.
  void SetWhileOpen(std::function<void()> while_open);
  // The calls so far, oldest first. Safe to read from any thread.
  std::vector<Call> calls() const;

  std::string ChooseFile(const std::string& title, const std::vector<FileFilter>& filters) override;

 private:
  mutable std::mutex mutex_;
  std::string answer_;
  std::function<void()> while_open_;
  std::vector<Call> calls_;
};

}  // namespace platform
