#include "platform/testing/fake_fonts.hpp"

namespace platform {

FakeFontCollection::FakeFontCollection(std::vector<std::u16string> families)
    : families_(std::move(families)) {}

void FakeFontCollection::SetFamilies(std::vector<std::u16string> families) {
  std::lock_guard<std::mutex> lock(mutex_);
  families_ = std::move(families);
}

void FakeFontCollection::SetFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  families_.reset();
}

std::optional<std::vector<std::u16string>> FakeFontCollection::InstalledFamilies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return families_;
}

}  // namespace platform
