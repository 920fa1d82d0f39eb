#include "platform/office_version.hpp"

namespace platform {
namespace {

std::unique_ptr<OfficeVersion>& TestingOverride() {
  static std::unique_ptr<OfficeVersion> instance;
  return instance;
}

}  // namespace

const OfficeVersion& OfficeVersion::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<OfficeVersion> backend = CreatePlatformBackend();
  return *backend;
}

void OfficeVersion::SetForTesting(std::unique_ptr<OfficeVersion> source) {
  TestingOverride() = std::move(source);
}

}  // namespace platform
