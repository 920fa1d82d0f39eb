#include "base/utf.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::u16string Decode(std::string_view bytes, Utf8Errors errors) {
  std::u16string out = u"left over";
  EXPECT_TRUE(DecodeUtf8(bytes, out, errors));
  return out;
}

TEST(Utf16ToUtf8, EncodesEachLengthAndJoinsSurrogatePairs) {
  EXPECT_EQ(WideToUtf8(u""), "");
  EXPECT_EQ(WideToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(WideToUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(WideToUtf8(u"\U00010000\U0001F600\U0010FFFF"),
            "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
}

TEST(Utf16ToUtf8, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(WideToUtf8(std::u16string{0xD83D}), kFffd);                      // high at the end
  EXPECT_EQ(WideToUtf8(std::u16string{0xDE00, u'x'}), kFffd + "x");          // low at the start
  EXPECT_EQ(WideToUtf8(std::u16string{0xD83D, u'x'}), kFffd + "x");          // high, no low
  EXPECT_EQ(WideToUtf8(std::u16string{0xDE00, 0xD83D}), kFffd + kFffd);      // reversed pair
  EXPECT_EQ(WideToUtf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), kFffd + "\xF0\x9F\x98\x80");
}

TEST(AppendUtf8, AppendsScalarValuesAndReplacesTheRest) {
  std::string out = "x";
  AppendUtf8(out, U'\u00E9');
  AppendUtf8(out, U'\U0010FFFF');
  EXPECT_EQ(out, "x\xC3\xA9\xF4\x8F\xBF\xBF");
  out.clear();
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0xDFFF);
  AppendUtf8(out, 0x110000);
  AppendUtf8(out, 0xFFFFFFFF);
  EXPECT_EQ(out, kFffd + kFffd + kFffd + kFffd);
}

TEST(DecodeUtf8, EveryScalarValueRoundTripsInEveryMode) {
  std::u16string all;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c < 0x10000) {
      all.push_back(static_cast<char16_t>(c));
    } else {
      all.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      all.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  const std::string utf8 = WideToUtf8(all);
  for (Utf8Errors errors : {Utf8Errors::kReplace, Utf8Errors::kReplaceEachByte,
                            Utf8Errors::kReplaceEachSequence, Utf8Errors::kFail}) {
    EXPECT_TRUE(Decode(utf8, errors) == all) << static_cast<int>(errors);
  }
}

TEST(DecodeUtf8, EmptyInputGivesEmptyOutputInEveryMode) {
  for (Utf8Errors errors : {Utf8Errors::kReplace, Utf8Errors::kReplaceEachByte,
                            Utf8Errors::kReplaceEachSequence, Utf8Errors::kFail}) {
    EXPECT_EQ(Decode("", errors), u"") << static_cast<int>(errors);
  }
}

TEST(DecodeUtf8, ReadsNothingPastTheEndOfItsInput) {
  // The bytes after the view would complete the euro sign.
  const std::string buffer = "\xE2\x82\xAC";
  const std::string_view cut(buffer.data(), 2);
  EXPECT_EQ(Decode(cut, Utf8Errors::kReplace), u"\uFFFD");
  EXPECT_EQ(Decode(cut, Utf8Errors::kReplaceEachByte), u"\uFFFD\uFFFD");
  EXPECT_EQ(Decode(cut, Utf8Errors::kReplaceEachSequence), u"\uFFFD");
  std::u16string out;
  EXPECT_FALSE(DecodeUtf8(cut, out, Utf8Errors::kFail));
}

// Ill-formed input and what each replacing mode makes of it.
struct IllFormed {
  const char* what;
  std::string bytes;
  std::u16string replace;        // one U+FFFD per maximal subpart
  std::u16string each_byte;      // one per byte not starting a character
  std::u16string each_sequence;  // one per lead byte with its continuations
};

const std::vector<IllFormed>& IllFormedCases() {
  static const std::vector<IllFormed> cases = {
      {"overlong 2-byte", "\xC0\xAF", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
      {"overlong 3-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD", u"\uFFFD"},
      {"overlong 4-byte", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD",
       u"\uFFFD"},
      {"high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD", u"\uFFFD"},
      {"low surrogate", "a\xED\xBF\xBF", u"a\uFFFD\uFFFD\uFFFD", u"a\uFFFD\uFFFD\uFFFD", u"a\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD",
       u"\uFFFD"},
      {"no lead byte F5", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD",
       u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"bytes FE FF", "\xFE\xFF", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
      {"stray continuations", "\x80\xBF", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
      {"3-byte cut at the end", "\xE2\x82", u"\uFFFD", u"\uFFFD\uFFFD", u"\uFFFD"},
      {"4-byte cut at the end", "x\xF0\x9F\x98", u"x\uFFFD", u"x\uFFFD\uFFFD\uFFFD", u"x\uFFFD"},
      {"3-byte cut by ASCII", "\xE2\x82y", u"\uFFFDy", u"\uFFFD\uFFFDy", u"\uFFFDy"},
      {"cut by a character", "\xE2\xC3\xA9", u"\uFFFD\u00E9", u"\uFFFD\u00E9", u"\uFFFD\u00E9"},
      {"cut by a 4-byte character", "\xF0\x9F\xF0\x9F\x98\x80", u"\uFFFD\U0001F600",
       u"\uFFFD\uFFFD\U0001F600", u"\uFFFD\U0001F600"},
      {"bad second byte after E0", "\xE0\x80y", u"\uFFFD\uFFFDy", u"\uFFFD\uFFFDy", u"\uFFFDy"},
      // Unicode's own example of replacement by maximal subparts.
      {"mixed", "a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd",
       u"a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
  };
  return cases;
}

TEST(DecodeUtf8, ReplacingModesCountReplacementsAsDocumented) {
  for (const IllFormed& c : IllFormedCases()) {
    EXPECT_EQ(Decode(c.bytes, Utf8Errors::kReplace), c.replace) << c.what;
    EXPECT_EQ(Decode(c.bytes, Utf8Errors::kReplaceEachByte), c.each_byte) << c.what;
    EXPECT_EQ(Decode(c.bytes, Utf8Errors::kReplaceEachSequence), c.each_sequence) << c.what;
  }
}

TEST(DecodeUtf8, FailModeRejectsIllFormedInputAndLeavesNothing) {
  for (const IllFormed& c : IllFormedCases()) {
    std::u16string out = u"left over";
    EXPECT_FALSE(DecodeUtf8(c.bytes, out, Utf8Errors::kFail)) << c.what;
    EXPECT_EQ(out, u"") << c.what;
  }
  EXPECT_EQ(Decode(std::string("caf\xC3\xA9\0!", 7), Utf8Errors::kFail), std::u16string(u"caf\u00E9\0!", 6));
}

}  // namespace
