// RequestParams from queries and JSON bodies, RequestFields from requests.
#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include "endpoints/request_trees.hpp"
#include "http/parse.hpp"

namespace {

using Request = HttpCore::ServerBase::Request;

std::unique_ptr<Request> MakeRequest(const std::string& method, const std::string& path,
                                     const std::string& query,
                                     std::vector<std::pair<std::string, std::string>> header) {
  auto peer = std::make_shared<boost::asio::ip::tcp::endpoint>(
      boost::asio::ip::make_address("192.0.2.7"), 51234);
  auto request = std::make_unique<Request>(1 << 20, peer);
  request->method = method;
  request->path = path;
  request->query = query;
  for (auto& h : header) request->header.emplace(h.first, h.second);
  return request;
}

std::vector<std::string> Keys(const RequestTree& tree) {
  std::vector<std::string> keys;
  for (const auto& child : tree) keys.push_back(child.first);
  return keys;
}

TEST(RequestFields, EightFactsInOrder) {
  auto request = MakeRequest("GET", "/get_font_list", "action=x&b=2",
                             {{"origin", "http://editor"}, {"User-Agent", "UA/1"},
                              {"Content-Length", "12abc"}});
  RequestTree fields = BuildRequestFields(*request);
  EXPECT_EQ(Keys(fields),
            (std::vector<std::string>{"http_method", "http_uri", "http_query_string",
                                      "http_remote_addr", "http_remote_port", "http_origin",
                                      "http_user_agent", "http_content_length"}));
  EXPECT_EQ(fields.get<std::string>("http_method"), "GET");
  EXPECT_EQ(fields.get<std::string>("http_uri"), "/get_font_list");
  EXPECT_EQ(fields.get<std::string>("http_query_string"), "action=x&b=2");
  EXPECT_EQ(fields.get<std::string>("http_remote_addr"), "192.0.2.7");
  EXPECT_EQ(fields.get<std::string>("http_remote_port"), "51234");
  EXPECT_EQ(fields.get<std::string>("http_origin"), "http://editor");
  EXPECT_EQ(fields.get<std::string>("http_user_agent"), "UA/1");
  EXPECT_EQ(fields.get<std::string>("http_content_length"), "12");
}

TEST(RequestFields, OriginFallsBackToWholeRefererThenNull) {
  auto with_referer = MakeRequest("POST", "/", "", {{"Referer", "http://editor/page?x=1"}});
  EXPECT_EQ(BuildRequestFields(*with_referer).get<std::string>("http_origin"),
            "http://editor/page?x=1");
  auto both = MakeRequest("POST", "/", "", {{"Referer", "http://r"}, {"Origin", "http://o"}});
  EXPECT_EQ(BuildRequestFields(*both).get<std::string>("http_origin"), "http://o");
  auto neither = MakeRequest("POST", "/", "", {});
  RequestTree fields = BuildRequestFields(*neither);
  EXPECT_EQ(fields.get<std::string>("http_origin"), "null");
  EXPECT_EQ(fields.get<std::string>("http_user_agent"), "null");
  EXPECT_EQ(fields.get<std::string>("http_content_length"), "0");
}

TEST(AtoiLike, ConvertsLikeTheCLibraryWithoutOverflow) {
  EXPECT_EQ(AtoiLike("949"), 949);
  EXPECT_EQ(AtoiLike("  \t65001xyz"), 65001);
  EXPECT_EQ(AtoiLike("-12"), -12);
  EXPECT_EQ(AtoiLike("+7"), 7);
  EXPECT_EQ(AtoiLike("abc"), 0);
  EXPECT_EQ(AtoiLike(""), 0);
  EXPECT_EQ(AtoiLike("- 5"), 0);
  EXPECT_EQ(AtoiLike(std::string(300, '9')), INT_MAX);
  EXPECT_EQ(AtoiLike("-" + std::string(300, '9')), INT_MIN);
  EXPECT_EQ(AtoiLike("2147483647"), INT_MAX);
  EXPECT_EQ(AtoiLike("-2147483648"), INT_MIN);
}

TEST(QueryParams, DottedKeysNestAndRepeatsReplace) {
  RequestTree params = ParamsFromQuery(HttpCore::parse_query("a.b=1&c=x%41+y&d=1&d=2"));
  EXPECT_EQ(params.get<std::string>("a.b"), "1");
  EXPECT_EQ(ReadParam(params, "a"), "");
  EXPECT_EQ(ReadParam(params, "c"), "xA y");
  EXPECT_EQ(params.count("d"), 1u) << "a repeated key replaces, it does not add";
  EXPECT_EQ(ReadParam(params, "missing"), "");
}

TEST(QueryParams, KeysNestedBeyondTheLimitAreRefused) {
  std::string ok_key = "k";
  for (std::size_t i = 1; i < kMaxParamDepth; ++i) ok_key += ".k";
  EXPECT_NO_THROW(ParamsFromQuery(HttpCore::parse_query(ok_key + "=1")));
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "a.";
  EXPECT_THROW(ParamsFromQuery(HttpCore::parse_query(deep + "=1")), std::invalid_argument);
}

TEST(JsonParams, MembersArraysAndScalarsBecomeText) {
  RequestTree params =
      ParamsFromJson("{\"action\":\"get_files\",\"n\":12.5,\"t\":true,\"z\":null,"
                     "\"list\":[\"x\",2],\"o\":{\"k\":\"v\"}}");
  EXPECT_EQ(ReadParam(params, "action"), "get_files");
  EXPECT_EQ(ReadParam(params, "n"), "12.5");
  EXPECT_EQ(ReadParam(params, "t"), "true");
  EXPECT_EQ(ReadParam(params, "z"), "null");
  ASSERT_EQ(params.get_child("list").size(), 2u);
  EXPECT_EQ(params.get_child("list").front().first, "");
  EXPECT_EQ(params.get_child("list").back().second.data(), "2");
  EXPECT_EQ(params.get<std::string>("o.k"), "v");
}

TEST(JsonParams, DottedMemberNamesAreOneKey) {
  RequestTree params = ParamsFromJson("{\"file.name\":\"x\"}");
  EXPECT_EQ(ReadParam(params, "file.name"), "x");
}

TEST(JsonParams, EmptyMalformedOrTooDeepBodiesThrowStandardExceptions) {
  EXPECT_THROW(ParamsFromJson(""), std::exception);
  EXPECT_THROW(ParamsFromJson("action=get_font_list"), std::exception);
  EXPECT_THROW(ParamsFromJson("{\"a\":"), std::exception);
  // Deep nesting would exhaust the stack of a recursive parser.
  EXPECT_THROW(ParamsFromJson(std::string(1000000, '[')), std::invalid_argument);
  // Brackets inside strings do not count as nesting.
  EXPECT_NO_THROW(ParamsFromJson("{\"html\":\"" + std::string(1000, '[') + "\\\"{\"}"));
}

// Each value is a tree node of some hundred bytes: a body of a few hundred
// megabytes of "1," would become tens of gigabytes.
TEST(JsonParams, BodiesWithMoreValuesThanTheLimitAreRefusedBeforeParsing) {
  auto array_of = [](std::size_t count) {
    std::string body = "[1";
    for (std::size_t i = 1; i < count; ++i) body += ",1";
    return body + "]";
  };
  EXPECT_EQ(ParamsFromJson(array_of(kMaxParamValues - 1)).size(), kMaxParamValues - 1);
  EXPECT_THROW(ParamsFromJson(array_of(kMaxParamValues)), std::invalid_argument);
  // Commas inside strings are no values.
  EXPECT_EQ(ReadParam(ParamsFromJson("{\"list\":\"" + std::string(3 * kMaxParamValues, ',') + "\"}"), "list").size(),
            3 * kMaxParamValues);
}

}  // namespace
