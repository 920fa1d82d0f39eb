// The registered version of the word processor that documents are converted
// with, read without starting it.
//
// The value has the form of Word's registered current version: the ProgID
// "Word.Application", a dot and the version (for example
// "Word.Application.16"). One backend per platform
// (posix/office_version_posix.cpp), a test double in
// testing/fake_office_version.hpp.
#pragma once

#include <memory>
#include <string>

#include "platform/current_backend.hpp"

namespace platform {

struct RegisteredWordVersion {
  enum class State {
    kMissing,     // no word processor is registered
    kUnreadable,  // registered, but its current version cannot be read
    kPresent,     // `value` holds the current-version text
  };
  State state = State::kMissing;
  std::u16string value;
};

class OfficeVersion {
 public:
  virtual ~OfficeVersion() = default;

  // Reads the registration afresh on every call. Safe to call from several
  // threads at once.
  virtual RegisteredWordVersion ReadWordCurVer() const = 0;

  // The process-wide source: the platform backend unless a test has
  // installed another one.
  static const OfficeVersion& Get() { return CurrentBackend<OfficeVersion>::Get(); }

  // Installs `source` as the process-wide one (nullptr restores the platform
  // backend). Not thread-safe; call it before any reader runs.
  static void SetForTesting(std::unique_ptr<OfficeVersion> source) {
    CurrentBackend<OfficeVersion>::SetForTesting(std::move(source));
  }

  // A new instance of the platform backend.
  static std::unique_ptr<OfficeVersion> CreatePlatformBackend();
};

}  // namespace platform
