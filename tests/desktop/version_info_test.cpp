// The version report with and without a registered word processor.
#include <string>

#include <gtest/gtest.h>
#include <json/json.h>

#include "desktop/version_info.hpp"
#include "platform/testing/fake_office_version.hpp"

namespace {

using platform::FakeOfficeVersion;

std::string Report(platform::RegisteredWordVersion reg, unsigned int codepage = 1252) {
  FakeOfficeVersion office(std::move(reg));
  return GetVersionInfoJson(office, codepage);
}

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(text, v)) << text;
  return v;
}

TEST(VersionInfoJson, InstalledEngineByteExact) {
  EXPECT_EQ(Report(FakeOfficeVersion::Present(u"Word.Application.16"), 949),
            "{\n"
            "   \"product_name\" : \"PLUMETO_HTTP\",\n"
            "   \"product_version\" : \"1.0.0\",\n"
            "   \"success\" : true,\n"
            "   \"system_codepage\" : 949,\n"
            "   \"word_version\" : \"16\"\n"
            "}\n");
}

TEST(VersionInfoJson, NoEngineGivesEmptyVersion) {
  EXPECT_EQ(Report(FakeOfficeVersion::Missing()),
            "{\n"
            "   \"product_name\" : \"PLUMETO_HTTP\",\n"
            "   \"product_version\" : \"1.0.0\",\n"
            "   \"success\" : true,\n"
            "   \"system_codepage\" : 1252,\n"
            "   \"word_version\" : \"\"\n"
            "}\n");
}

TEST(VersionInfoJson, UnreadableVersionLeavesTheMemberOut) {
  Json::Value reply = Parse(Report(FakeOfficeVersion::Unreadable()));
  EXPECT_FALSE(reply.isMember("word_version"));
  EXPECT_TRUE(reply["success"].asBool());
}

TEST(VersionInfoJson, PrefixIsRemovedByPositionOnly) {
  EXPECT_EQ(Parse(Report(FakeOfficeVersion::Present(u"Word.Application.12")))["word_version"], "12");
  EXPECT_EQ(Parse(Report(FakeOfficeVersion::Present(u"Xxxx.Yyyyyyyyyyy.7.4")))["word_version"], "7.4");
}

TEST(VersionInfoJson, ValuesTooShortOrTooLongReadNothingBeyondThem) {
  // 17 units or fewer hold no version.
  EXPECT_EQ(Parse(Report(FakeOfficeVersion::Present(u"Word.Application.")))["word_version"], "");
  EXPECT_EQ(Parse(Report(FakeOfficeVersion::Present(u"Word")))["word_version"], "");
  // 127 units fit the registry buffer with its terminator; 128 do not.
  std::u16string fits = u"Word.Application." + std::u16string(110, u'9');
  EXPECT_EQ(Parse(Report(FakeOfficeVersion::Present(fits)))["word_version"].asString().size(), 110u);
  EXPECT_FALSE(Parse(Report(FakeOfficeVersion::Present(fits + u"9"))).isMember("word_version"));
}

TEST(VersionInfoJson, CodePageIsANumber) {
  Json::Value reply = Parse(Report(FakeOfficeVersion::Missing(), 65001));
  ASSERT_TRUE(reply["system_codepage"].isUInt());
  EXPECT_EQ(reply["system_codepage"].asUInt(), 65001u);
}

}  // namespace
