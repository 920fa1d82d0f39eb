#include "platform/testing/fake_office_version.hpp"

namespace platform {

FakeOfficeVersion::FakeOfficeVersion(RegisteredWordVersion registration)
    : registration_(std::move(registration)) {}

void FakeOfficeVersion::Set(RegisteredWordVersion registration) {
  std::lock_guard<std::mutex> lock(mutex_);
  registration_ = std::move(registration);
}

RegisteredWordVersion FakeOfficeVersion::ReadWordCurVer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registration_;
}

RegisteredWordVersion FakeOfficeVersion::Missing() { return {}; }

RegisteredWordVersion FakeOfficeVersion::Unreadable() {
  return {RegisteredWordVersion::State::kUnreadable, {}};
}

RegisteredWordVersion FakeOfficeVersion::Present(std::u16string value) {
  return {RegisteredWordVersion::State::kPresent, std::move(value)};
}

}  // namespace platform
