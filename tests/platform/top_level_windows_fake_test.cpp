// The window contract on the test double, and what only the double offers.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/testing/fake_top_level_windows.hpp"
#include "platform/x11/top_level_windows.hpp"
#include "tests/platform/top_level_windows_contract.hpp"

namespace windows_test {
namespace {

using platform::FakeTopLevelWindows;
using platform::WindowId;
using platform::WindowRect;

class FakeHarness final : public WindowsHarness {
 public:
  WindowId Create(const std::string& title, WindowRect rect, WindowId owner, bool shown) override {
    FakeTopLevelWindows::Window w;
    w.title = title;
    w.rect = rect;
    w.owner = owner;
    w.shown = shown;
    return fake_.Add(w);
  }
  void Destroy(WindowId window) override { fake_.Remove(window); }
  std::optional<WindowRect> ObservedRect(WindowId window) override {
    const auto w = fake_.Inspect(window);
    if (!w) return std::nullopt;
    return w->rect;
  }
  std::string ObservedTitle(WindowId window) override {
    const auto w = fake_.Inspect(window);
    return w ? w->title : "";
  }
  bool KeptAbove(WindowId window) override {
    const auto w = fake_.Inspect(window);
    return w && w->above;
  }
  WindowId Focused() override { return fake_.focused(); }
  bool StackedOver(WindowId a, WindowId b) override {
    const std::vector<WindowId> order = fake_.stacking();
    const auto at_a = std::find(order.begin(), order.end(), a), at_b = std::find(order.begin(), order.end(), b);
    return at_a != order.end() && at_b != order.end() && at_a > at_b;
  }
  bool Shown(WindowId window) override {
    const auto w = fake_.Inspect(window);
    return w && w->shown;
  }
  platform::TopLevelWindows& windows() override { return fake_; }

 private:
  FakeTopLevelWindows fake_;
};

INSTANTIATE_TEST_SUITE_P(Fake, TopLevelWindowsContractTest,
                         ::testing::Values(HarnessFactory{"Fake", [] {
                                             return std::unique_ptr<WindowsHarness>(new FakeHarness);
                                           }}),
                         [](const auto& info) { return info.param.name; });

TEST(FakeTopLevelWindows, WindowsKeptAboveStayOverActivatedOnes) {
  FakeTopLevelWindows fake;
  const WindowId dialog = fake.Add({"Open", {0, 0, 10, 10}, 0, true, false});
  const WindowId browser = fake.Add({"Browser", {0, 0, 100, 100}, 0, true, false});
  ASSERT_TRUE(fake.MoveTopmost(dialog, 5, 200));
  ASSERT_TRUE(fake.Activate(browser));
  EXPECT_EQ(fake.focused(), browser);
  EXPECT_EQ(fake.stacking(), (std::vector<WindowId>{browser, dialog}));
  const WindowId later = fake.Add({"Later", {0, 0, 1, 1}, 0, true, false});
  EXPECT_EQ(fake.stacking(), (std::vector<WindowId>{browser, later, dialog}));
  fake.Remove(browser);
  EXPECT_EQ(fake.focused(), 0u);
}

TEST(FakeTopLevelWindows, ReplacesThePlatformBackend) {
  auto fake = std::make_unique<FakeTopLevelWindows>();
  const WindowId window = fake->Add({"Open", {0, 0, 10, 10}, 0, true, false});
  platform::TopLevelWindows::SetForTesting(std::move(fake));
  EXPECT_EQ(platform::TopLevelWindows::Get().FindByTitle("Open"), window);
  platform::TopLevelWindows::SetForTesting(nullptr);
  EXPECT_NE(dynamic_cast<platform::X11TopLevelWindows*>(&platform::TopLevelWindows::Get()), nullptr);
}

}  // namespace
}  // namespace windows_test
