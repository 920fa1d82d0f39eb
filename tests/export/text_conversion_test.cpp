#include "export/text_conversion.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(WideToUtf8, EncodesEveryLengthAndJoinsSurrogatePairs) {
  EXPECT_EQ(WideToUtf8(u"A\u00E9\uC548\U0001F600"),
            "A\xC3\xA9\xEC\x95\x88\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(WideToUtf8, LoneSurrogatesBecomeReplacementCharacter) {
  std::u16string text = u"a";
  text += char16_t(0xD800);
  EXPECT_EQ(WideToUtf8(text), "a\xEF\xBF\xBD");
  // A low surrogate before a high one is two lone surrogates, not a pair.
  const std::u16string reversed = {char16_t(0xDC00), char16_t(0xD800)};
  EXPECT_EQ(WideToUtf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8ToWide, DecodesValidText) {
  EXPECT_EQ(Utf8ToWide("/tmp/\xEC\x95\x88.png"), u"/tmp/\uC548.png");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(Utf8ToWide, RaisesAStandardExceptionOnBytesThatAreNotUtf8) {
  const char* const bad[] = {
      "\xFF",              // never valid
      "abc\xC3",           // cut off
      "\xC0\xAF",          // overlong '/'
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\x80",              // stray continuation byte
  };
  for (const char* text : bad) {
    EXPECT_THROW(Utf8ToWide(text), std::range_error) << text;
  }
  // Callers catch std::exception.
  EXPECT_THROW(Utf8ToWide("\xE9t\xE9"), std::exception);
}

TEST(CodePageToUtf8, GoesThroughUtf16) {
  std::string utf8;
  ASSERT_TRUE(CodePageToUtf8(949, "\xBE\xC8\xB3\xE7", utf8));
  EXPECT_EQ(utf8, "\xEC\x95\x88\xEB\x85\x95");
  ASSERT_TRUE(CodePageToUtf8(1252, std::string(1000, '\x93'), utf8));
  EXPECT_EQ(utf8.size(), 3000u);
  EXPECT_EQ(utf8.substr(0, 3), "\xE2\x80\x9C");
}

TEST(CodePageToUtf8, UnknownCodePageGivesNothing) {
  std::string utf8 = "stale";
  EXPECT_FALSE(CodePageToUtf8(4242, "abc", utf8));
  EXPECT_TRUE(utf8.empty());
}

TEST(Utf8ToCodePage, ReplacesWhatTheCodePageLacks) {
  std::string bytes;
  ASSERT_TRUE(Utf8ToCodePage(1252, "caf\xC3\xA9 \xEC\x95\x88", bytes));
  EXPECT_EQ(bytes, "caf\xE9 ?");
  ASSERT_TRUE(Utf8ToCodePage(949, "\xEC\x95\x88", bytes));
  EXPECT_EQ(bytes, "\xBE\xC8");
  EXPECT_FALSE(Utf8ToCodePage(4242, "abc", bytes));
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
