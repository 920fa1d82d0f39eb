// Test double of the office version source: reports the registration a test
// gives it.
#pragma once

#include <mutex>

#include "platform/office_version.hpp"

namespace platform {

class FakeOfficeVersion final : public OfficeVersion {
 public:
  FakeOfficeVersion() = default;  // nothing registered
  explicit FakeOfficeVersion(RegisteredWordVersion registration);

  void Set(RegisteredWordVersion registration);
  RegisteredWordVersion ReadWordCurVer() const override;

  static RegisteredWordVersion Missing();
  static RegisteredWordVersion Unreadable();
  static RegisteredWordVersion Present(std::u16string value);

 private:
  mutable std::mutex mutex_;
  RegisteredWordVersion registration_;
};

}  // namespace platform
