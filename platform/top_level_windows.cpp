#include "platform/top_level_windows.hpp"

namespace platform {
namespace {

std::unique_ptr<TopLevelWindows>& TestingOverride() {
  static std::unique_ptr<TopLevelWindows> instance;
  return instance;
}

}  // namespace

TopLevelWindows& TopLevelWindows::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<TopLevelWindows> backend = CreatePlatformBackend();
  return *backend;
}

void TopLevelWindows::SetForTesting(std::unique_ptr<TopLevelWindows> windows) {
  TestingOverride() = std::move(windows);
}

}  // namespace platform
