// How request lines, header fields and query strings are read, over real
// sockets and through the parsers themselves.

#include <gtest/gtest.h>

#include <sstream>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class RequestLine : public ::testing::Test {
 protected:
  void SetUp() override {
    server.echo_get_and_post();
    server.start();
  }
  // Sends a request and returns what the handler saw of it.
  Seen served(const std::string& request) {
    Client client(server.port);
    client.send(request);
    EXPECT_FALSE(client.read_reply().empty()) << request;
    auto seen = server.wait_seen(1);
    return seen.empty() ? Seen{} : seen.back();
  }
  // Sends a malformed request: no reply, the connection closed, a protocol error.
  void rejected(const std::string& request) {
    const std::size_t before = server.errors().size();
    Client client(server.port);
    client.send(request);
    EXPECT_EQ(client.read_all(), "") << request;
    EXPECT_TRUE(client.closed()) << request;
    const auto errors = server.wait_errors(before + 1);
    ASSERT_GT(errors.size(), before) << request;
    EXPECT_EQ(errors[before], boost::system::errc::protocol_error) << request;
    EXPECT_TRUE(server.seen().empty());
  }
  TestServer server;
};

TEST_F(RequestLine, SplitsMethodPathQueryAndVersion) {
  Seen seen = served("GET /a?b=1 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.path, "/a");
  EXPECT_EQ(seen.query, "b=1");
  EXPECT_EQ(seen.version, "1.1");
  EXPECT_EQ(seen.path_groups, 0u);
}

TEST_F(RequestLine, LastQuestionMarkStartsTheQuery) {
  Seen seen = served("GET /a?b?c HTTP/1.1\r\n\r\n");
  EXPECT_EQ(seen.path, "/a?b");
  EXPECT_EQ(seen.query, "c");
}

TEST_F(RequestLine, PathWithoutQueryKeepsPercentEscapes) {
  Seen seen = served("POST /x%20y HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.path, "/x%20y");
  EXPECT_EQ(seen.query, "");
  EXPECT_EQ(seen.version, "1.0");
}

TEST_F(RequestLine, ClientAddressAndPortAreTheSocketPeer) {
  Client client(server.port);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  ASSERT_EQ(::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&local), &length), 0);
  client.send(get("/"));
  ASSERT_FALSE(client.read_reply().empty());
  auto seen = server.wait_seen(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].remote_address, "127.0.0.1");
  EXPECT_EQ(seen[0].remote_port, ntohs(local.sin_port));
}

TEST_F(RequestLine, MalformedLinesGetNoReply) {
  for (const char* line : {"GET / http/1.1", "GET /", "GET", "GET / HTTP", "GET / XTTP/1.1"})
    rejected(std::string(line) + "\r\n\r\n");
}

class HeaderFields : public RequestLine {};

TEST_F(HeaderFields, NamesKeepSpacesAndLookupsIgnoreCase) {
  Seen seen = served("GET / HTTP/1.1\r\nHost : x\r\nContent-Length: 0\r\nX-Two:   spaced  \r\n\r\n");
  ASSERT_EQ(seen.header.count("Host "), 1u);
  EXPECT_EQ(seen.header.find("Host ")->second, "x");
  EXPECT_EQ(seen.header.count("Host"), 0u);
  ASSERT_EQ(seen.header.count("content-length"), 1u);
  EXPECT_EQ(seen.header.find("CONTENT-LENGTH")->first, "Content-Length");
  EXPECT_EQ(seen.header.find("x-two")->second, "spaced  ");
}

TEST_F(HeaderFields, ColonFollowedByCrGivesEmptyValue) {
  Seen seen = served("GET / HTTP/1.1\r\nX:\r\nY:   \r\n\r\n");
  ASSERT_EQ(seen.header.count("X"), 1u);
  EXPECT_EQ(seen.header.find("X")->second, "");
  ASSERT_EQ(seen.header.count("Y"), 1u);
  EXPECT_EQ(seen.header.find("Y")->second, "");
}

TEST_F(HeaderFields, DuplicatesAreKept) {
  Seen seen = served("GET / HTTP/1.1\r\nAccept: a\r\naccept: b\r\n\r\n");
  EXPECT_EQ(seen.header.count("Accept"), 2u);
}

TEST_F(HeaderFields, LineWithoutColonEndsTheFields) {
  Seen seen = served("GET / HTTP/1.1\r\nA: 1\r\nbroken line\r\nB: 2\r\n\r\n");
  EXPECT_EQ(seen.header.count("A"), 1u);
  EXPECT_EQ(seen.header.count("B"), 0u);
}

TEST(HeaderMapNames, EqualAndHashAlikeAcrossLetterCase) {
  HttpCore::CaseInsensitiveHash hash;
  EXPECT_EQ(hash("Content-Type"), hash("content-TYPE"));
  EXPECT_NE(hash("Content-Type"), hash("Content-Typf"));
  EXPECT_TRUE(HttpCore::case_insensitive_equals("Content-Type", "CONTENT-type"));
  EXPECT_FALSE(HttpCore::case_insensitive_equals("Host", "Host "));
  EXPECT_FALSE(HttpCore::case_insensitive_equals("Hosx", "Host"));
}

TEST(ParseRequestHead, FillsFieldsFromAStream) {
  std::istringstream stream("PUT /p?q HTTP/2\r\nA: b\r\n\r\nbody");
  std::string method, path, query = "old", version;
  HttpCore::HeaderMap header{{"stale", "1"}};
  ASSERT_TRUE(HttpCore::parse_request_head(stream, method, path, query, version, header));
  EXPECT_EQ(method, "PUT");
  EXPECT_EQ(path, "/p");
  EXPECT_EQ(query, "q");
  EXPECT_EQ(version, "2");
  EXPECT_EQ(header.size(), 1u);
  std::string rest((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, "body");
}

TEST(ParseRequestHead, WithoutQueryTheOldQueryStays) {
  std::istringstream stream("GET /p HTTP/1.1\r\n\r\n");
  std::string method, path, query = "kept", version;
  HttpCore::HeaderMap header;
  ASSERT_TRUE(HttpCore::parse_request_head(stream, method, path, query, version, header));
  EXPECT_EQ(path, "/p");
  EXPECT_EQ(query, "kept");
}

TEST(ParseRequestHead, ShortAndOddLinesDoNotOverrun) {
  for (const char* text : {"", "\n", "G", "G ", "G  ", "G / HTTP/", "G / HTTP/\n", " / HTTP/1.1\r\n",
                           "G /?", "G /? HTTP/1", "G ? /"}) {
    std::istringstream stream(text);
    std::string method, path, query, version;
    HttpCore::HeaderMap header;
    const bool ok = HttpCore::parse_request_head(stream, method, path, query, version, header);
    if (ok) {
      EXPECT_LE(version.size(), std::string(text).size()) << text;
    }
  }
  std::istringstream stream("G / HTTP/\n");
  std::string method, path, query, version;
  HttpCore::HeaderMap header;
  ASSERT_TRUE(HttpCore::parse_request_head(stream, method, path, query, version, header));
  EXPECT_EQ(version, "");
}

TEST(ParseHeaderFields, StopsAfterOneFieldBeyondTheLimit) {
  std::istringstream stream("A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n");
  EXPECT_EQ(HttpCore::parse_header_fields(stream, 2).size(), 3u);
}

TEST(Query, SplitsPairsAndDecodesValues) {
  const HttpCore::HeaderMap fields = HttpCore::parse_query("a=1&&b&c=x%41+y&=z");
  EXPECT_EQ(fields.size(), 3u);
  ASSERT_EQ(fields.count("a"), 1u);
  EXPECT_EQ(fields.find("a")->second, "1");
  ASSERT_EQ(fields.count("b"), 1u);
  EXPECT_EQ(fields.find("b")->second, "");
  ASSERT_EQ(fields.count("c"), 1u);
  EXPECT_EQ(fields.find("c")->second, "xA y");
  EXPECT_EQ(fields.count(""), 0u);
}

TEST(Query, NamesMayHoldEqualsSignsAndStayEncoded) {
  const HttpCore::HeaderMap fields = HttpCore::parse_query("a=b=c&n%41=1&last=");
  ASSERT_EQ(fields.count("a=b"), 1u);
  EXPECT_EQ(fields.find("a=b")->second, "c");
  EXPECT_EQ(fields.count("n%41"), 1u);
  ASSERT_EQ(fields.count("last"), 1u);
  EXPECT_EQ(fields.find("last")->second, "");
  EXPECT_TRUE(HttpCore::parse_query("").empty());
  EXPECT_TRUE(HttpCore::parse_query("&&&").empty());
}

TEST_F(RequestLine, QueryFieldsOfARequest) {
  HttpCore::HeaderMap fields;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request> request) {
    fields = request->query_fields();
    response->write_status(204);
  };
  Client client(server.port);
  client.send(get("/?action=get_font_list&name=a+b%2Fc"));
  ASSERT_FALSE(client.read_reply().empty());
  ASSERT_EQ(fields.count("action"), 1u);
  EXPECT_EQ(fields.find("action")->second, "get_font_list");
  EXPECT_EQ(fields.find("name")->second, "a b/c");
}

TEST(PercentDecode, EscapesPlusAndShortTails) {
  EXPECT_EQ(HttpCore::percent_decode("%41%62+c"), "Ab c");
  EXPECT_EQ(HttpCore::percent_decode("100%"), "100%");
  EXPECT_EQ(HttpCore::percent_decode("%4"), "%4");
  EXPECT_EQ(HttpCore::percent_decode("x%4"), "x%4");
  EXPECT_EQ(HttpCore::percent_decode("%zz"), std::string(1, '\0'));
  EXPECT_EQ(HttpCore::percent_decode("%C3%A9"), "\xC3\xA9");
  EXPECT_EQ(HttpCore::percent_decode(""), "");
}

TEST(NumberFields, ContentLengthAndChunkSize) {
  unsigned long long length = 7;
  EXPECT_TRUE(HttpCore::parse_content_length(" 42abc", length));
  EXPECT_EQ(length, 42u);
  EXPECT_FALSE(HttpCore::parse_content_length("abc", length));
  EXPECT_FALSE(HttpCore::parse_content_length("", length));
  EXPECT_FALSE(HttpCore::parse_content_length("99999999999999999999999", length));
  unsigned long size = 0;
  EXPECT_TRUE(HttpCore::parse_chunk_size("1aF;name=value", size));
  EXPECT_EQ(size, 0x1afu);
  EXPECT_FALSE(HttpCore::parse_chunk_size("zz", size));
  EXPECT_FALSE(HttpCore::parse_chunk_size("", size));
  EXPECT_FALSE(HttpCore::parse_chunk_size("1ffffffffffffffffff", size));
}

}  // namespace
}  // namespace http_test
