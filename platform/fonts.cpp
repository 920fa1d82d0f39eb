#include "platform/fonts.hpp"

namespace platform {
namespace {

std::unique_ptr<FontCollection>& TestingOverride() {
  static std::unique_ptr<FontCollection> instance;
  return instance;
}

}  // namespace

const FontCollection& FontCollection::Get() {
  if (TestingOverride()) return *TestingOverride();
  static const std::unique_ptr<FontCollection> backend = CreatePlatformBackend();
  return *backend;
}

void FontCollection::SetForTesting(std::unique_ptr<FontCollection> collection) {
  TestingOverride() = std::move(collection);
}

}  // namespace platform
