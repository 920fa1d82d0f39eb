#include "platform/file_chooser.hpp"

namespace platform {
namespace {

std::unique_ptr<FileChooser>& TestingOverride() {
  static std::unique_ptr<FileChooser> instance;
  return instance;
}

}  // namespace

FileChooser& FileChooser::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<FileChooser> backend = CreatePlatformBackend();
  return *backend;
}

void FileChooser::SetForTesting(std::unique_ptr<FileChooser> chooser) { TestingOverride() = std::move(chooser); }

}  // namespace platform
