#include "tests/platform/top_level_windows_contract.hpp"

#include <vector>

namespace windows_test {
namespace {

using platform::WindowId;
using platform::WindowRect;

const std::string kOpenKorean = "\xEC\x97\xB4\xEA\xB8\xB0";   // "열기"
const std::string kOpenCp949 = "\xBF\xAD\xB1\xE2";            // the same word in code page 949
const std::string kImportKorean = "\xEB\xAC\xB8\xEC\x84\x9C \xEA\xB0\x80\xEC\xA0\xB8\xEC\x98\xA4\xEA\xB8\xB0";  // "문서 가져오기"

TEST_P(TopLevelWindowsContractTest, FindsAWindowByItsExactTitle) {
  const WindowId open = harness_->Create("Open", {10, 10, 110, 90});
  const WindowId open_file = harness_->Create("Open file", {20, 20, 120, 100});
  const WindowId lower = harness_->Create("open", {30, 30, 130, 110});
  const WindowId korean = harness_->Create(kOpenKorean, {40, 40, 140, 120});
  const struct {
    std::string title;
    WindowId expected;
  } cases[] = {
      {"Open", open},   {"Open file", open_file}, {"open", lower}, {kOpenKorean, korean},
      {"Ope", 0},       {"Open ", 0},              {"pen", 0},      {"Open file2", 0},
      {"OPEN", 0},      {"", 0},                   {kOpenCp949, 0}, {kOpenKorean.substr(0, 3), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(harness_->windows().FindByTitle(c.title), c.expected) << c.title;
}

TEST_P(TopLevelWindowsContractTest, OfTwoWindowsWithOneTitleTheUpperIsFound) {
  const WindowId first = harness_->Create("Twice", {10, 10, 210, 160});
  const WindowId second = harness_->Create("Twice", {60, 60, 260, 210});
  EXPECT_EQ(harness_->windows().FindByTitle("Twice"), second);
  ASSERT_TRUE(harness_->windows().Activate(first));
  EXPECT_TRUE(Eventually([&] { return harness_->windows().FindByTitle("Twice") == first; }));
}

TEST_P(TopLevelWindowsContractTest, ARenamedWindowIsFoundByItsNewTitleOnly) {
  const WindowId window = harness_->Create("Before", {10, 10, 210, 160});
  for (const std::string& title : {kImportKorean, std::string("Caf\xC3\xA9 ouvrir"), std::string("Open")}) {
    SCOPED_TRACE(title);
    ASSERT_TRUE(harness_->windows().SetTitle(window, title));
    EXPECT_EQ(harness_->ObservedTitle(window), title);
    EXPECT_EQ(harness_->windows().FindByTitle(title), window);
  }
  EXPECT_EQ(harness_->windows().FindByTitle("Before"), 0u);
  EXPECT_EQ(harness_->windows().FindByTitle(kImportKorean), 0u);
}

TEST_P(TopLevelWindowsContractTest, RectsAreThoseOfTheClientAreaAndOfTheOwner) {
  const WindowId owner = harness_->Create("Owner", {40, 50, 340, 250});
  const WindowId dialog = harness_->Create("Dialog", {100, 120, 300, 260}, owner);
  const std::optional<WindowRect> rect = harness_->windows().Rect(dialog);
  ASSERT_TRUE(rect.has_value());
  EXPECT_EQ(*rect, harness_->ObservedRect(dialog));
  EXPECT_EQ(rect->width(), 200);
  EXPECT_EQ(rect->height(), 140);
  EXPECT_EQ(harness_->windows().ParentRect(dialog), harness_->ObservedRect(owner));
  EXPECT_EQ(harness_->windows().ParentRect(dialog)->width(), 300);
  EXPECT_EQ(harness_->windows().ParentRect(owner), std::nullopt);
}

TEST_P(TopLevelWindowsContractTest, MoveTopmostPlacesTheClientAreaAndKeepsItAbove) {
  const WindowId window = harness_->Create("Mover", {30, 40, 230, 190});
  const WindowId other = harness_->Create("Other", {0, 0, 400, 400});
  ASSERT_TRUE(harness_->windows().MoveTopmost(window, 70, 200));
  const WindowRect wanted{70, 200, 270, 350};
  EXPECT_TRUE(Eventually([&] { return harness_->ObservedRect(window) == wanted; }))
      << "at " << harness_->ObservedRect(window).value_or(WindowRect{}).left << ","
      << harness_->ObservedRect(window).value_or(WindowRect{}).top;
  EXPECT_EQ(harness_->windows().Rect(window), wanted);
  EXPECT_TRUE(Eventually([&] { return harness_->KeptAbove(window); }));
  EXPECT_TRUE(harness_->StackedOver(window, other));
}

TEST_P(TopLevelWindowsContractTest, ActivateRaisesAndFocuses) {
  const WindowId first = harness_->Create("First", {100, 100, 400, 300});
  const WindowId second = harness_->Create("Second", {150, 150, 450, 350});
  ASSERT_TRUE(Eventually([&] { return harness_->StackedOver(second, first); }));
  ASSERT_TRUE(harness_->windows().Activate(first));
  EXPECT_TRUE(Eventually([&] { return harness_->Focused() == first; }));
  EXPECT_TRUE(Eventually([&] { return harness_->StackedOver(first, second); }));
}

TEST_P(TopLevelWindowsContractTest, AHiddenWindowIsFoundAndActivateShowsIt) {
  harness_->Create("Shown", {0, 0, 300, 300});
  const WindowId hidden = harness_->Create("Hidden", {50, 50, 250, 250}, 0, false);
  EXPECT_FALSE(harness_->Shown(hidden));
  EXPECT_EQ(harness_->windows().FindByTitle("Hidden"), hidden);
  ASSERT_TRUE(harness_->windows().Activate(hidden));
  EXPECT_TRUE(Eventually([&] { return harness_->Shown(hidden); }));
  EXPECT_TRUE(Eventually([&] { return harness_->Focused() == hidden; }));
}

TEST_P(TopLevelWindowsContractTest, WindowsThatAreGoneOrNeverWereFail) {
  const WindowId gone = harness_->Create("Gone", {10, 10, 110, 110});
  harness_->Destroy(gone);
  EXPECT_EQ(harness_->windows().FindByTitle("Gone"), 0u);
  for (const WindowId window : {WindowId{0}, gone, WindowId{1} << 40}) {
    SCOPED_TRACE(window);
    EXPECT_EQ(harness_->windows().Rect(window), std::nullopt);
    EXPECT_EQ(harness_->windows().ParentRect(window), std::nullopt);
    EXPECT_FALSE(harness_->windows().SetTitle(window, "x"));
    EXPECT_FALSE(harness_->windows().MoveTopmost(window, 0, 200));
    EXPECT_FALSE(harness_->windows().Activate(window));
  }
}

}  // namespace
}  // namespace windows_test
