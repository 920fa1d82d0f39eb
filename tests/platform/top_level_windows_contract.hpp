// The contract every top-level window backend keeps, run against each of
// them: the test double (unit tests) and the X11 backend on an Xvfb of the
// test's own, without and with a window manager (integration).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/top_level_windows.hpp"
#include "tests/platform/top_level_windows_eventually.hpp"

namespace windows_test {

// Makes windows for one backend and reports, independently of it, what the
// desktop says about them.
class WindowsHarness {
 public:
  virtual ~WindowsHarness() = default;
  // A top-level window titled `title`, its client area asked for at `rect`
  // (a window manager may place it elsewhere), owned by `owner` (0: none),
  // shown or not.
  virtual platform::WindowId Create(const std::string& title, platform::WindowRect rect,
                                    platform::WindowId owner = 0, bool shown = true) = 0;
  virtual void Destroy(platform::WindowId window) = 0;
  virtual std::optional<platform::WindowRect> ObservedRect(platform::WindowId window) = 0;
  virtual std::string ObservedTitle(platform::WindowId window) = 0;
  // Kept over the other windows: the window manager's "above" state, or,
  // without one, the top of the stacking order.
  virtual bool KeptAbove(platform::WindowId window) = 0;
  virtual platform::WindowId Focused() = 0;
  virtual bool StackedOver(platform::WindowId a, platform::WindowId b) = 0;
  virtual bool Shown(platform::WindowId window) = 0;
  virtual platform::TopLevelWindows& windows() = 0;
};

struct HarnessFactory {
  std::string name;
  std::function<std::unique_ptr<WindowsHarness>()> make;
};

inline void PrintTo(const HarnessFactory& factory, std::ostream* out) { *out << factory.name; }

class TopLevelWindowsContractTest : public ::testing::TestWithParam<HarnessFactory> {
 protected:
  void SetUp() override {
    harness_ = GetParam().make();
    if (!harness_) GTEST_SKIP() << "backend not available";
  }
  std::unique_ptr<WindowsHarness> harness_;
};

}  // namespace windows_test
