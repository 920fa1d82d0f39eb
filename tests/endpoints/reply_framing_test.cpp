// Header templates B and C, the preflight's header, the content-type rule
// and the header safety of the origin; template A and the default text are
// checked on the wire.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "endpoints/reply_framing.hpp"

namespace {

const std::string kAllowHeaders =
    "Access-Control-Allow-Headers: Origin,Accept,X-Requested-With,Content-Type,"
    "Access-Control-Request-Method,Access-Control-Request-Headers,Authorization\r\n";
const std::string kAllowMethods = "Access-Control-Allow-Methods: GET,POST,OPTIONS,HEAD\r\n";

TEST(HeaderTemplates, BAndCFilledExactly) {
  // B: no blank after "Content-Type:", allowed headers before the origin.
  EXPECT_EQ(FillHeaderTemplate(ReplyTemplate::kB, 7, "t", "o"),
            "Content-Length: 7\r\nContent-Type:t\r\nAccess-Control-Allow-Credentials: true\r\n" +
                kAllowHeaders + "Access-Control-Allow-Origin: o\r\n" + kAllowMethods +
                "Connection: close\r\n");
  // C: no blank after "Content-Type:", origin first.
  EXPECT_EQ(FillHeaderTemplate(ReplyTemplate::kC, 0, "t", "null"),
            "Content-Length: 0\r\nContent-Type:t\r\nAccess-Control-Allow-Credentials: true\r\n"
            "Access-Control-Allow-Origin: null\r\n" +
                kAllowHeaders + kAllowMethods + "Connection: close\r\n");
}

TEST(HeaderTemplates, UnfilledLengthsAre332Or333Bytes) {
  EXPECT_EQ(std::strlen(HeaderTemplateText(ReplyTemplate::kA)), 333u);
  EXPECT_EQ(std::strlen(HeaderTemplateText(ReplyTemplate::kB)), 332u);
  EXPECT_EQ(std::strlen(HeaderTemplateText(ReplyTemplate::kC)), 332u);
}

TEST(HeaderTemplates, LengthsBeyondIntAndPercentSignsInTheOriginAreWrittenAsIs) {
  const std::string header =
      FillHeaderTemplate(ReplyTemplate::kA, 5000000000u, "t", "http://h/%d%s%n");
  EXPECT_EQ(header.rfind("Content-Length: 5000000000\r\n", 0), 0u);
  EXPECT_NE(header.find("Access-Control-Allow-Origin: http://h/%d%s%n\r\n"), std::string::npos);
}

TEST(HeaderTemplates, OriginCannotAddHeaderFields) {
  const std::string header = FillHeaderTemplate(
      ReplyTemplate::kA, 1, "t", std::string("http://a\rSet-Cookie: x=1\nX: y\0tail", 34));
  EXPECT_NE(header.find("Access-Control-Allow-Origin: http://aSet-Cookie: x=1X: y\r\n"),
            std::string::npos)
      << header;
  EXPECT_EQ(header.find("tail"), std::string::npos);
}

TEST(PreflightHeader, TheCorsFieldsOfTemplateAWithMaxAgeAndPrivateNetworkOnRequest) {
  const std::string common = "Access-Control-Allow-Credentials: true\r\nAccess-Control-Allow-Origin: http://e\r\n" +
                             kAllowHeaders + kAllowMethods + "Access-Control-Max-Age: 7200\r\n";
  EXPECT_EQ(PreflightHeader("http://e", false), common);
  EXPECT_EQ(PreflightHeader("http://e", true), common + "Access-Control-Allow-Private-Network: true\r\n");
  // The same CORS lines as template A, in the same order.
  const std::string a = FillHeaderTemplate(ReplyTemplate::kA, 0, "t", "http://e");
  const std::string cors = common.substr(0, common.find("Access-Control-Max-Age"));
  EXPECT_NE(a.find(cors), std::string::npos) << a;
}

TEST(PreflightHeader, OriginCannotAddHeaderFields) {
  EXPECT_EQ(PreflightHeader(std::string("http://a\r\nX: 1\0tail", 19), false)
                .find("Access-Control-Allow-Origin: http://aX: 1\r\n" + kAllowHeaders),
            std::string("Access-Control-Allow-Credentials: true\r\n").size());
}

TEST(ContentType, OnlyAUserAgentStartingWithMsie8GetsJson) {
  EXPECT_STREQ(ContentTypeFor("MSIE 8.0"), "application/json; charset=utf-8");
  EXPECT_STREQ(ContentTypeFor("MSIE 8.0; Windows NT 6.1"), "application/json; charset=utf-8");
  EXPECT_STREQ(ContentTypeFor("Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)"),
               "text/html; charset=utf-8");
  EXPECT_STREQ(ContentTypeFor("MSIE 8"), "text/html; charset=utf-8");
  EXPECT_STREQ(ContentTypeFor(""), "text/html; charset=utf-8");
  EXPECT_STREQ(ContentTypeFor("null"), "text/html; charset=utf-8");
}

TEST(CutAtFirstNul, KeepsBodyAndLengthInAgreement) {
  std::string body("ab\0cd", 5);
  CutAtFirstNul(body);
  EXPECT_EQ(body, "ab");
  std::string plain = "abc";
  CutAtFirstNul(plain);
  EXPECT_EQ(plain, "abc");
}

}  // namespace
