#include "base/utf.hpp"

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

}  // namespace
