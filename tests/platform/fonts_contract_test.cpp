// What every font collection backend promises its callers.
#include <functional>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include "platform/fonts.hpp"
#include "platform/testing/fake_fonts.hpp"

namespace {

// fontconfig keeps its configuration until FcFini; release it once every
// test has run, so that the leak checker sees only leaks of our own.
class FontconfigRelease : public ::testing::Environment {
 public:
  void TearDown() override { FcFini(); }
};
const ::testing::Environment* const kFontconfigRelease =
    ::testing::AddGlobalTestEnvironment(new FontconfigRelease);

struct Backend {
  const char* name;
  std::function<std::unique_ptr<platform::FontCollection>()> make;
};

void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

class FontCollectionContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { fonts_ = GetParam().make(); }
  std::unique_ptr<platform::FontCollection> fonts_;
};

bool IsWellFormedUtf16(const std::u16string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

TEST_P(FontCollectionContract, ListsEachFamilyOnceAsWellFormedUtf16) {
  auto families = fonts_->InstalledFamilies();
  ASSERT_TRUE(families.has_value());
  ASSERT_FALSE(families->empty()) << "the machine (or the fake) has fonts";
  std::set<std::u16string> seen;
  for (const auto& name : *families) {
    if (name.empty()) continue;  // an unreadable name may repeat
    EXPECT_TRUE(IsWellFormedUtf16(name));
    EXPECT_TRUE(seen.insert(name).second) << "family listed twice";
  }
}

TEST_P(FontCollectionContract, KeepsItsOrderAcrossCallsAndThreads) {
  const auto first = fonts_->InstalledFamilies();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(fonts_->InstalledFamilies(), first);

  std::vector<std::optional<std::vector<std::u16string>>> results(4);
  std::vector<std::thread> threads;
  for (auto& slot : results) {
    threads.emplace_back([&slot, this] { slot = fonts_->InstalledFamilies(); });
  }
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, first);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, FontCollectionContract,
    ::testing::Values(
        Backend{"fontconfig", [] { return platform::FontCollection::CreatePlatformBackend(); }},
        Backend{"fake",
                [] {
                  return std::make_unique<platform::FakeFontCollection>(
                      std::vector<std::u16string>{u"DejaVu Sans", u"\uB9D1\uC740 \uACE0\uB515",
                                                  u"Emoji \U0001F600"});
                }}),
    [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

TEST(FakeFontCollection, GivesWhatTheTestSetsAndFailsOnRequest) {
  platform::FakeFontCollection fake({u"A", u"", u"A"});
  EXPECT_EQ(fake.InstalledFamilies(), (std::vector<std::u16string>{u"A", u"", u"A"}));
  fake.SetFailure();
  EXPECT_FALSE(fake.InstalledFamilies().has_value());
}

TEST(FontCollection, SetForTestingReplacesAndRestoresTheProcessWideOne) {
  auto fake = std::make_unique<platform::FakeFontCollection>(std::vector<std::u16string>{u"Only"});
  const platform::FontCollection* installed = fake.get();
  platform::FontCollection::SetForTesting(std::move(fake));
  EXPECT_EQ(&platform::FontCollection::Get(), installed);
  platform::FontCollection::SetForTesting(nullptr);
  EXPECT_NE(&platform::FontCollection::Get(), installed);
}

}  // namespace
