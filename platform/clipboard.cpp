#include "platform/clipboard.hpp"

namespace platform {
namespace {

std::unique_ptr<Clipboard>& TestingOverride() {
  static std::unique_ptr<Clipboard> instance;
  return instance;
}

}  // namespace

Clipboard& Clipboard::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<Clipboard> backend = CreatePlatformBackend();
  return *backend;
}

void Clipboard::SetForTesting(std::unique_ptr<Clipboard> clipboard) {
  TestingOverride() = std::move(clipboard);
}

}  // namespace platform
