// Test double of the font collection: lists the families a test gives it,
// exactly as given (duplicates and empty names included), or fails.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fonts.hpp"

namespace platform {

class FakeFontCollection final : public FontCollection {
 public:
  FakeFontCollection() = default;
  explicit FakeFontCollection(std::vector<std::u16string> families);

  void SetFamilies(std::vector<std::u16string> families);
  // Makes the enumeration fail until families are set again.
  void SetFailure();

  std::optional<std::vector<std::u16string>> InstalledFamilies() const override;

 private:
  mutable std::mutex mutex_;
  std::optional<std::vector<std::u16string>> families_{std::vector<std::u16string>{}};
};

}  // namespace platform
