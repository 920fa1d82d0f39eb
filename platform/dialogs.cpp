#include "platform/dialogs.hpp"

namespace platform {
namespace {

std::unique_ptr<Dialogs>& TestingOverride() {
  static std::unique_ptr<Dialogs> instance;
  return instance;
}

}  // namespace

Dialogs& Dialogs::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<Dialogs> backend = CreatePlatformBackend();
  return *backend;
}

void Dialogs::SetForTesting(std::unique_ptr<Dialogs> dialogs) { TestingOverride() = std::move(dialogs); }

}  // namespace platform
