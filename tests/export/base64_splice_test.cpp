#include "export/base64_splice.hpp"

#include <gtest/gtest.h>
#include <json/json.h>

#include <stdexcept>
#include <string>

#include "base/base64.hpp"

namespace {

std::string Styled(const Json::Value& value) {
  Json::StyledWriter writer;
  return writer.write(value);
}

// The same reply built twice: once with the texts in it, once through a
// splice; the splice's output must be what the writer makes of the first.
class SpliceTest : public ::testing::Test {
 protected:
  // Stores `base64` under `member` of both replies' object `at`.
  void Put(const std::string& at, const std::string& member, const std::string& base64) {
    plain_[at][member] = base64;
    spliced_[at][member] = splice_.StandIn(base64);
  }
  void PutText(const std::string& at, const std::string& member, const std::string& text) {
    plain_[at][member] = text;
    spliced_[at][member] = text;
  }

  Base64Splice splice_;
  Json::Value plain_{Json::objectValue};
  Json::Value spliced_{Json::objectValue};
};

TEST_F(SpliceTest, OutputIsTheWritersForTheTextsInPlace) {
  Put("b.png", "base64", Base64Encode(std::string(70000, '\xFB')));
  Put("a.gif", "base64", Base64Encode("ab"));
  Put("a.gif", "zeta", "");  // an empty text is no stand-in
  Put("c.ico", "base64", "+/+/AAAA==");
  PutText("a.gif", "name", "caf\xC3\xA9 \"quoted\"");
  plain_["count"] = 3;
  spliced_["count"] = 3;
  EXPECT_EQ(splice_.Write(spliced_), Styled(plain_));
}

TEST_F(SpliceTest, NoTextsGivesTheWritersOutput) {
  PutText("x", "text", "plain");
  Put("x", "base64", "");
  EXPECT_EQ(splice_.Write(spliced_), Styled(plain_));
}

TEST_F(SpliceTest, TextsShapedLikeStandInsStayText) {
  Put("p.png", "base64", "QUJD");
  // Stand-ins of other forms, of an untagged splice, and their written form.
  PutText("p.png", "filename", "\x01" "0\x01");
  PutText("q.png", "base64", "\x01" "0\x01");
  PutText("q.png", "text", "\"\\u00010\\u0001\" \\u0001" "0000000000000000" "0\\u0001");
  PutText("\x01" "0\x01", "base64", "\x01" "0000000000000000" "0\x01");
  EXPECT_EQ(splice_.Write(spliced_), Styled(plain_));
}

TEST_F(SpliceTest, ReplacedEntryDropsItsText) {
  spliced_["p.png"]["base64"] = splice_.StandIn("T0xE");
  Put("p.png", "base64", "TkVX");
  EXPECT_EQ(splice_.Write(spliced_), Styled(plain_));
}

TEST(Base64Splice, ForgedStandInIsRefusedRatherThanFilled) {
  // A splice whose tag is known, and a text from outside that carries its
  // first stand-in: the reply must not get the picture in the wrong place.
  Base64Splice known(0x0123456789abcdefULL);
  Json::Value reply(Json::objectValue);
  reply["b"]["base64"] = known.StandIn("QUJD");
  reply["a"]["text"] = "\x01" "0123456789abcdef0\x01";
  EXPECT_THROW(known.Write(reply), std::logic_error);
}

TEST(Base64Splice, StandInWrittenTwiceIsRefused) {
  Base64Splice splice;
  Json::Value reply(Json::objectValue);
  reply["a"]["base64"] = splice.StandIn("QUJD");
  reply["b"] = reply["a"];
  EXPECT_THROW(splice.Write(reply), std::logic_error);
}

TEST(Base64Splice, EachSpliceHasItsOwnTag) {
  Base64Splice first;
  Base64Splice second;
  EXPECT_NE(first.StandIn("QUJD"), second.StandIn("QUJD"));
}

}  // namespace
