// Fitting the font list into its 63,335-byte cache: a list that is too long
// loses whole families from its end and stays a font list reply.
#include <json/json.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/font_cache.hpp"
#include "app/globals.hpp"

namespace {

std::string FontListReply(int families, const std::string& stem) {
  Json::Value reply;
  reply["encoding"] = "utf-8";
  reply["success"] = true;
  reply["font_count"] = families;
  for (int i = 0; i < families; ++i) reply["font_list"].append(stem + std::to_string(i));
  Json::StyledWriter writer;
  return writer.write(reply);
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << errors;
  return value;
}

TEST(FontListCache, AListThatFitsIsKeptByteForByte) {
  const std::string reply = FontListReply(20, "Family ");
  EXPECT_EQ(FitFontListText(reply, kFontListCacheSize), reply);
  EXPECT_EQ(FitFontListText("", kFontListCacheSize), "");
}

TEST(FontListCache, ATooLongListKeepsAsManyLeadingFamiliesAsFitAndCountsThem) {
  const std::string reply = FontListReply(1500, "A rather long font family name number ");
  ASSERT_GT(reply.size(), kFontListCacheSize);

  const std::string fitted = FitFontListText(reply, kFontListCacheSize);
  ASSERT_LT(fitted.size(), kFontListCacheSize);
  const Json::Value cut = Parse(fitted);
  const Json::ArrayIndex kept = cut["font_list"].size();
  ASSERT_GT(kept, 0u);
  EXPECT_EQ(cut["font_count"].asUInt(), kept);
  EXPECT_EQ(cut["encoding"].asString(), "utf-8");
  EXPECT_TRUE(cut["success"].asBool());
  for (Json::ArrayIndex i = 0; i < kept; ++i) {
    ASSERT_EQ(cut["font_list"][i].asString(),
              "A rather long font family name number " + std::to_string(i));
  }
  // One family more would not have fitted.
  EXPECT_GE(FontListReply(static_cast<int>(kept) + 1, "A rather long font family name number ").size(),
            kFontListCacheSize);
}

TEST(FontListCache, TextThatIsNoFontListIsCutAtACharacterBoundary) {
  // "é" is two bytes; a cut through it would leave half a character.
  const std::string text = std::string(8, 'a') + "\xC3\xA9" + "bbbb";
  EXPECT_EQ(FitFontListText(text, 10), std::string(8, 'a'));
  EXPECT_EQ(FitFontListText(text, 11), text.substr(0, 10));
  EXPECT_EQ(FitFontListText(text, 0), "");
}

// Found by fuzzing the pipe's requests: the JSON reader throws, rather than
// fail, on nesting deeper than its limit; the pipe thread must not end.
TEST(FontListCache, TextNestedBeyondTheReadersLimitIsCutLikeAnyOtherText) {
  std::string nested;
  for (int i = 0; i < 2000; ++i) nested += "{\"font_list\":";
  ASSERT_NO_THROW(FitFontListText(nested, 100));
  EXPECT_EQ(FitFontListText(nested, 100), nested.substr(0, 99));
}

TEST(FontListCache, StoringATooLongListNeverOverrunsTheCache) {
  StoreFontListCache(FontListReply(1000, std::string(80, 'x')));
  const std::size_t length = ::strnlen(g_fontListCache, kFontListCacheSize);
  ASSERT_LT(length, kFontListCacheSize);
  EXPECT_EQ(Parse(g_fontListCache)["font_count"].asUInt(),
            Parse(g_fontListCache)["font_list"].size());
}

}  // namespace
