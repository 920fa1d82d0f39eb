// The font list reply, on a chosen collection and on the machine's fonts.
#include <set>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include "desktop/font_list.hpp"
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

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(text, v)) << text;
  return v;
}

TEST(FontListJson, WrittenByTheStyledWriterLayout) {
  platform::FakeFontCollection fonts({u"Arial", u"Courier New"});
  EXPECT_EQ(GetFontListJson(fonts),
            "{\n"
            "   \"encoding\" : \"utf-8\",\n"
            "   \"font_count\" : 2,\n"
            "   \"font_list\" : [ \"Arial\", \"Courier New\" ],\n"
            "   \"success\" : true\n"
            "}\n");
}

TEST(FontListJson, EmptyNamesAreSkippedRepeatsAndOrderKept) {
  platform::FakeFontCollection fonts({u"Zeta", u"", u"Alpha", u"Zeta"});
  Json::Value reply = Parse(GetFontListJson(fonts));
  EXPECT_EQ(reply["font_count"].asInt(), 3);
  ASSERT_EQ(reply["font_list"].size(), 3u);
  EXPECT_EQ(reply["font_list"][0].asString(), "Zeta");
  EXPECT_EQ(reply["font_list"][1].asString(), "Alpha");
  EXPECT_EQ(reply["font_list"][2].asString(), "Zeta");
}

TEST(FontListJson, OnlyEmptyNamesGiveANullListAndZeroCount) {
  platform::FakeFontCollection fonts({u"", u""});
  const std::string text = GetFontListJson(fonts);
  EXPECT_NE(text.find("\"font_list\" : null"), std::string::npos) << text;
  Json::Value reply = Parse(text);
  EXPECT_EQ(reply["font_count"].asInt(), 0);
  EXPECT_TRUE(reply["success"].asBool());
}

TEST(FontListJson, NoFamiliesOrFailedEnumerationGiveTheEmptyText) {
  platform::FakeFontCollection fonts;
  EXPECT_EQ(GetFontListJson(fonts), "");
  fonts.SetFailure();
  EXPECT_EQ(GetFontListJson(fonts), "");
}

TEST(FontListJson, NamesAreUtf8IncludingPairsOutsideTheBmp) {
  platform::FakeFontCollection fonts({u"\uB9D1\uC740 \uACE0\uB515", u"Emoji \U0001F600"});
  Json::Value reply = Parse(GetFontListJson(fonts));
  EXPECT_EQ(reply["font_list"][0].asString(), "\xEB\xA7\x91\xEC\x9D\x80 \xEA\xB3\xA0\xEB\x94\x95");
  EXPECT_EQ(reply["font_list"][1].asString(), "Emoji \xF0\x9F\x98\x80");
}

TEST(FontListJson, FamiliesBeyondTheTableAreNotListed) {
  std::vector<std::u16string> names;
  for (int i = 0; i < 1005; ++i) {
    std::string n = "F" + std::to_string(i);
    names.emplace_back(n.begin(), n.end());
  }
  platform::FakeFontCollection fonts(names);
  Json::Value reply = Parse(GetFontListJson(fonts));
  EXPECT_EQ(reply["font_count"].asInt(), 1000);
  EXPECT_EQ(reply["font_list"][999].asString(), "F999");
}

TEST(FontListJson, MachineFontsAreListedOnceEach) {
  platform::FontCollection::SetForTesting(nullptr);
  const std::string text = GetFontListJson();
  ASSERT_FALSE(text.empty()) << "fontconfig lists no fonts on this machine";
  Json::Value reply = Parse(text);
  std::set<std::string> seen;
  for (const auto& name : reply["font_list"]) EXPECT_TRUE(seen.insert(name.asString()).second);
  EXPECT_EQ(reply["font_count"].asUInt(), reply["font_list"].size());
  // fonts-dejavu-core is part of the machine set-up.
  EXPECT_TRUE(seen.count("DejaVu Sans")) << text;
}

}  // namespace
