// Contract of the code-page layer, run against the platform backend: the
// conversions the export folder and the endpoints rely on, with the
// replacement rules of Windows, and the system code page by locale.
#include "platform/codepage.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/platform/codepage_test_locales.hpp"

namespace {

using platform::CodePage;
using platform::InvalidInput;
using platform::MultiByteToWide;
using platform::WideToMultiByte;
using test_locales::ScopedEnv;
using test_locales::ScopedLocale;

std::u16string Decode(CodePage cp, std::string_view bytes) {
  std::u16string out;
  EXPECT_TRUE(MultiByteToWide(cp, bytes, out)) << "code page " << cp;
  return out;
}

std::string Encode(CodePage cp, std::u16string_view text) {
  std::string out;
  EXPECT_TRUE(WideToMultiByte(cp, text, out)) << "code page " << cp;
  return out;
}

// --- Single-byte code pages --------------------------------------------------

TEST(CodePageSingleByte, Oem437DecodesBoxDrawingAndLatin) {
  EXPECT_EQ(Decode(437, "\x80\xB0\xE1\x01" "A"), u"\u00C7\u2591\u00DF\u0001A");
  EXPECT_EQ(Encode(437, u"\u00C7\u2591\u00DF"), "\x80\xB0\xE1");
}

TEST(CodePageSingleByte, Ansi1252MapsTheWindowsRange) {
  EXPECT_EQ(Decode(1252, "\x80\x93\x94\xE9"), u"\u20AC\u201C\u201D\u00E9");
  // Holes of the table come back as the C1 control of the same value.
  EXPECT_EQ(Decode(1252, "\x81\x8D\x9D"), u"\u0081\u008D\u009D");
  EXPECT_EQ(Encode(1252, u"\u20AC caf\u00E9"), "\x80 caf\xE9");
}

TEST(CodePageSingleByte, UnrepresentableCharactersBecomeOneQuestionMarkEach) {
  EXPECT_EQ(Encode(1252, u"a\uD55Cb"), "a?b");
  EXPECT_EQ(Encode(437, u"\u20AC"), "?");
  // A character outside the BMP is one character, hence one '?'.
  EXPECT_EQ(Encode(1252, u"a\U0001F600b"), "a?b");
  // Lone surrogates are not characters at all.
  EXPECT_EQ(Encode(1252, std::u16string(u"x") + char16_t(0xD800) + u"y"),
            "x?y");
  EXPECT_EQ(Encode(1252, std::u16string(u"x") + char16_t(0xDC00)), "x?");
}

TEST(CodePageSingleByte, Ascii20127ReplacesHighBytes) {
  EXPECT_EQ(Decode(20127, "a\xE9z"), u"a\uFFFDz");
  EXPECT_EQ(Encode(20127, u"\u00E9"), "?");
}

// --- Double-byte code pages --------------------------------------------------

TEST(CodePageDoubleByte, Korean949RoundTripsIncludingUhcExtension) {
  // U+B620 exists in 949 (UHC) but not in plain EUC-KR.
  const std::string bytes = "\xBE\xC8\xB3\xE7\x8C\x63 ok";
  EXPECT_EQ(Decode(949, bytes), u"\uC548\uB155\uB620 ok");
  EXPECT_EQ(Encode(949, u"\uC548\uB155\uB620 ok"), bytes);
  EXPECT_EQ(Decode(51949, "\xBE\xC8"), u"\uC548");
}

TEST(CodePageDoubleByte, InvalidSequencesDecodeToReplacement) {
  // A lead byte followed by a byte that cannot trail it, and a lead byte cut
  // off at the end of the input.
  EXPECT_EQ(Decode(949, "\xBE a"), u"\uFFFD a");
  EXPECT_EQ(Decode(949, "ok\xBE"), u"ok\uFFFD");
  EXPECT_EQ(Encode(949, u"\u00E9\uC548"), "?\xBE\xC8");
}

TEST(CodePageDoubleByte, OutputLargerThanTheInputGrowsTheBuffer) {
  // GB18030 needs four bytes for U+0080.
  const std::u16string text(100000, u'\u0080');
  const std::string bytes = Encode(54936, text);
  ASSERT_EQ(bytes.size(), 400000u);
  EXPECT_EQ(bytes.substr(0, 4), "\x81\x30\x81\x30");
  EXPECT_EQ(Decode(54936, bytes), text);
}

// --- UTF-8 ---------------------------------------------------------------------

TEST(CodePageUtf8, DecodesAllLengthsAndSurrogatePairs) {
  EXPECT_EQ(Decode(65001, "a\xC3\xA9\xEC\x95\x88\xF0\x9F\x98\x80"),
            u"a\u00E9\uC548\U0001F600");
  EXPECT_EQ(Encode(65001, u"a\u00E9\uC548\U0001F600"),
            "a\xC3\xA9\xEC\x95\x88\xF0\x9F\x98\x80");
}

TEST(CodePageUtf8, InvalidBytesBecomeOneReplacementPerMaximalSubpart) {
  EXPECT_EQ(Decode(65001, "\xE2\x82" "A"), u"\uFFFDA");        // truncated
  EXPECT_EQ(Decode(65001, "\xF0\x9F\x98"), u"\uFFFD");         // cut at end
  EXPECT_EQ(Decode(65001, "\xC0\xAF"), u"\uFFFD\uFFFD");       // overlong
  EXPECT_EQ(Decode(65001, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Decode(65001, "\xF4\x90\x80\x80"),                  // > U+10FFFF
            u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Decode(65001, "x\xFFy\x80"), u"x\uFFFDy\uFFFD");
}

TEST(CodePageUtf8, FailModeRejectsWhatReplaceModeRepairs) {
  std::u16string out = u"stale";
  EXPECT_FALSE(MultiByteToWide(65001, "ok\xC3", out, InvalidInput::kFail));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(MultiByteToWide(65001, "\xC3\xA9", out, InvalidInput::kFail));
  EXPECT_EQ(out, u"\u00E9");
  EXPECT_FALSE(MultiByteToWide(949, "\xBE a", out, InvalidInput::kFail));
}

TEST(CodePageUtf8, LoneSurrogatesEncodeAsReplacement) {
  std::u16string text = u"a";
  text += char16_t(0xD83D);  // high surrogate without its partner
  text += u"b";
  text += char16_t(0xDE00);  // low surrogate alone
  EXPECT_EQ(Encode(65001, text), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

// --- Unknown code pages and the table ----------------------------------------

TEST(CodePageTable, UnknownCodePageFailsWithEmptyResult) {
  std::u16string wide = u"stale";
  std::string narrow = "stale";
  EXPECT_FALSE(platform::IsKnownCodePage(12345));
  EXPECT_FALSE(MultiByteToWide(12345, "abc", wide));
  EXPECT_TRUE(wide.empty());
  EXPECT_FALSE(WideToMultiByte(12345, u"abc", narrow));
  EXPECT_TRUE(narrow.empty());
  // UTF-16 is not a multibyte code page, as on Windows.
  EXPECT_FALSE(MultiByteToWide(1200, "a\0", wide));
}

TEST(CodePageTable, EveryAdvertisedCodePageConvertsAscii) {
  const CodePage pages[] = {437,   850,   874,   932,   936,   949,   950,
                            1250,  1251,  1252,  1253,  1254,  1255,  1256,
                            1257,  1258,  20127, 28591, 28592, 28593, 28594,
                            28595, 28596, 28597, 28598, 28599, 28603, 28605,
                            51949, 54936, 65001};
  for (CodePage cp : pages) {
    EXPECT_TRUE(platform::IsKnownCodePage(cp)) << cp;
    EXPECT_EQ(Decode(cp, "Hello, <o:File/>?"), u"Hello, <o:File/>?") << cp;
    EXPECT_EQ(Encode(cp, u"Hello, <o:File/>?"), "Hello, <o:File/>?") << cp;
  }
}

TEST(CodePageTable, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(Decode(949, ""), u"");
  EXPECT_EQ(Encode(949, u""), "");
  EXPECT_EQ(Decode(65001, ""), u"");
}

TEST(CodePageTable, ConcurrentConversionsDoNotInterfere) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        std::u16string wide;
        std::string narrow;
        if (!MultiByteToWide(949, "\xBE\xC8\xB3\xE7", wide) ||
            wide != u"\uC548\uB155" || !WideToMultiByte(1252, u"\u00E9", narrow) ||
            narrow != "\xE9") {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// --- System code page ------------------------------------------------------------

class SystemCodePageTest : public ::testing::Test {
 protected:
  // Start from a clean slate: only what a test sets decides.
  ScopedEnv lc_all_{"LC_ALL", nullptr};
  ScopedEnv lc_ctype_{"LC_CTYPE", nullptr};
  ScopedEnv lang_{"LANG", nullptr};
};

TEST_F(SystemCodePageTest, FollowsTheLocaleCharacterSet) {
  struct Case {
    const char* locale;
    CodePage expected;
  } cases[] = {
      {"C", 1252},
      {"POSIX", 1252},
      {"ko_KR.EUC-KR", 949},
      {"en_US.ISO-8859-1", 1252},
      {"en_US.UTF-8", 65001},
      {"ru_RU.KOI8-R", 20866},
  };
  for (const Case& c : cases) {
    ScopedLocale locale(c.locale);
    ASSERT_TRUE(locale.ok()) << "cannot build locale " << c.locale;
    EXPECT_EQ(platform::SystemCodePage(), c.expected) << c.locale;
  }
}

TEST_F(SystemCodePageTest, MissingLocaleFallsBackLikeC) {
  ScopedEnv locpath("LOCPATH", test_locales::LocaleDir().c_str());
  ScopedEnv lc_all("LC_ALL", "xx_YY.EUC-KR");
  EXPECT_EQ(platform::SystemCodePage(), 1252u);
}

TEST_F(SystemCodePageTest, PrecedenceIsLcAllThenLcCtypeThenLang) {
  ASSERT_TRUE(test_locales::EnsureLocale("ko_KR.EUC-KR"));
  ASSERT_TRUE(test_locales::EnsureLocale("en_US.UTF-8"));
  ScopedEnv locpath("LOCPATH", test_locales::LocaleDir().c_str());
  {
    ScopedEnv lang("LANG", "ko_KR.EUC-KR");
    EXPECT_EQ(platform::SystemCodePage(), 949u);
    ScopedEnv ctype("LC_CTYPE", "en_US.UTF-8");
    EXPECT_EQ(platform::SystemCodePage(), 65001u);
    ScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(platform::SystemCodePage(), 1252u);
  }
}

TEST_F(SystemCodePageTest, CodePageZeroConvertsWithTheSystemCodePage) {
  {
    ScopedLocale locale("ko_KR.EUC-KR");
    ASSERT_TRUE(locale.ok());
    EXPECT_EQ(Decode(0, "\xBE\xC8"), u"\uC548");
    EXPECT_EQ(Encode(0, u"\uC548"), "\xBE\xC8");
  }
  {
    ScopedLocale locale("en_US.ISO-8859-1");
    ASSERT_TRUE(locale.ok());
    EXPECT_EQ(Decode(0, "\xE9\x80"), u"\u00E9\u20AC");
  }
}

}  // namespace
