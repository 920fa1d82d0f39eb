// What every office version backend promises its callers.
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/office_version.hpp"
#include "platform/testing/fake_office_version.hpp"

namespace {

using platform::RegisteredWordVersion;

struct Backend {
  const char* name;
  std::function<std::unique_ptr<platform::OfficeVersion>()> make;
};

void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

class OfficeVersionContract : public ::testing::TestWithParam<Backend> {};

TEST_P(OfficeVersionContract, PresentValueIsProgIdDotVersion) {
  auto source = GetParam().make();
  RegisteredWordVersion reg = source->ReadWordCurVer();
  if (reg.state != RegisteredWordVersion::State::kPresent) {
    EXPECT_TRUE(reg.value.empty()) << "only a present registration carries a value";
    return;
  }
  const std::u16string prefix = u"Word.Application.";
  ASSERT_GT(reg.value.size(), prefix.size());
  EXPECT_EQ(reg.value.substr(0, prefix.size()), prefix);
  EXPECT_LE(reg.value.size(), 127u) << "fits the 256-byte registry buffer";
  EXPECT_EQ(reg.value.find(u'\0'), std::u16string::npos);
}

TEST_P(OfficeVersionContract, SameAnswerAcrossCallsAndThreads) {
  auto source = GetParam().make();
  const RegisteredWordVersion first = source->ReadWordCurVer();
  std::vector<RegisteredWordVersion> results(4);
  std::vector<std::thread> threads;
  for (auto& slot : results) threads.emplace_back([&slot, &source] { slot = source->ReadWordCurVer(); });
  for (auto& t : threads) t.join();
  for (const auto& r : results) {
    EXPECT_EQ(r.state, first.state);
    EXPECT_EQ(r.value, first.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Backends, OfficeVersionContract,
    ::testing::Values(
        Backend{"libreoffice", [] { return platform::OfficeVersion::CreatePlatformBackend(); }},
        Backend{"fake_present",
                [] {
                  return std::make_unique<platform::FakeOfficeVersion>(
                      platform::FakeOfficeVersion::Present(u"Word.Application.16"));
                }},
        Backend{"fake_missing", [] { return std::make_unique<platform::FakeOfficeVersion>(); }}),
    [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

TEST(OfficeVersion, SetForTestingReplacesAndRestoresTheProcessWideOne) {
  auto fake = std::make_unique<platform::FakeOfficeVersion>();
  const platform::OfficeVersion* installed = fake.get();
  platform::OfficeVersion::SetForTesting(std::move(fake));
  EXPECT_EQ(&platform::OfficeVersion::Get(), installed);
  platform::OfficeVersion::SetForTesting(nullptr);
  EXPECT_NE(&platform::OfficeVersion::Get(), installed);
}

}  // namespace
