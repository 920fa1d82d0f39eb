// Installed font families of the desktop.
//
// The font menu of the editor page may only offer families that the desktop
// can render, so the list comes from the system's own font enumeration. One
// backend per platform (posix/fontconfig_fonts.cpp), a test double in
// testing/fake_fonts.hpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/current_backend.hpp"

namespace platform {

class FontCollection {
 public:
  virtual ~FontCollection() = default;

  // Family names (UTF-16) in the system's enumeration order, each family
  // once. An empty name stands for a family whose name could not be read.
  // std::nullopt when the enumeration itself failed. Safe to call from
  // several threads at once.
  virtual std::optional<std::vector<std::u16string>> InstalledFamilies() const = 0;

  // The process-wide collection: the platform backend unless a test has
  // installed another one.
  static const FontCollection& Get() { return CurrentBackend<FontCollection>::Get(); }

  // Installs `collection` as the process-wide one (nullptr restores the
  // platform backend). Not thread-safe; call it before any reader runs.
  static void SetForTesting(std::unique_ptr<FontCollection> collection) {
    CurrentBackend<FontCollection>::SetForTesting(std::move(collection));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<FontCollection> CreatePlatformBackend();
};

}  // namespace platform
