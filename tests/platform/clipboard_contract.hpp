// The contract every clipboard backend keeps, run against each of them: the
// test double (unit tests) and the X11 backend under Xvfb (integration).
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <memory>
#include <string>

#include "platform/clipboard.hpp"

namespace clipboard_test {

// Puts data on the clipboard of one backend.
class ClipboardHarness {
 public:
  virtual ~ClipboardHarness() = default;
  // Replaces the clipboard's owner by one offering `data` as `target`.
  virtual void Offer(const std::string& target, const std::string& data) = 0;
  // Leaves the clipboard without owner.
  virtual void Clear() = 0;
  virtual platform::Clipboard& clipboard() = 0;
};

struct HarnessFactory {
  std::string name;
  std::function<std::unique_ptr<ClipboardHarness>()> make;
};

inline void PrintTo(const HarnessFactory& factory, std::ostream* out) { *out << factory.name; }

class ClipboardContractTest : public ::testing::TestWithParam<HarnessFactory> {
 protected:
  void SetUp() override {
    harness_ = GetParam().make();
    if (!harness_) GTEST_SKIP() << "backend not available";
  }
  std::unique_ptr<ClipboardHarness> harness_;
};

// The offsets a description states, checked against its bytes. Empty
// `error` when they are consistent.
struct DescribedHtml {
  std::string document;
  std::string fragment;
  std::string error;
};
DescribedHtml ParseHtmlFormat(const std::string& description);

}  // namespace clipboard_test
