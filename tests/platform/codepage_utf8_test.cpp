#include "platform/codepage.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CodePageToUtf8, GoesThroughUtf16) {
  std::string utf8;
  ASSERT_TRUE(platform::CodePageToUtf8(949, "\xBE\xC8\xB3\xE7", utf8));
  EXPECT_EQ(utf8, "\xEC\x95\x88\xEB\x85\x95");
  ASSERT_TRUE(platform::CodePageToUtf8(1252, std::string(1000, '\x93'), utf8));
  EXPECT_EQ(utf8.size(), 3000u);
  EXPECT_EQ(utf8.substr(0, 3), "\xE2\x80\x9C");
}

TEST(CodePageToUtf8, UnknownCodePageGivesNothing) {
  std::string utf8 = "stale";
  EXPECT_FALSE(platform::CodePageToUtf8(4242, "abc", utf8));
  EXPECT_TRUE(utf8.empty());
}

TEST(Utf8ToCodePage, ReplacesWhatTheCodePageLacks) {
  std::string bytes;
  ASSERT_TRUE(platform::Utf8ToCodePage(1252, "caf\xC3\xA9 \xEC\x95\x88", bytes));
  EXPECT_EQ(bytes, "caf\xE9 ?");
  ASSERT_TRUE(platform::Utf8ToCodePage(949, "\xEC\x95\x88", bytes));
  EXPECT_EQ(bytes, "\xBE\xC8");
  EXPECT_FALSE(platform::Utf8ToCodePage(4242, "abc", bytes));
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
