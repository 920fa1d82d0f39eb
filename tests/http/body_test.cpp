// Request bodies: by Content-Length, chunked, and what stays in `content`.

#include <gtest/gtest.h>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class Body : public ::testing::Test {
 protected:
  void SetUp() override {
    server.echo_get_and_post();
    server.start();
  }
  // Sends the request and returns the echoed body.
  std::string echoed(const std::string& request, std::size_t step = 0) {
    Client client(server.port);
    if (step)
      client.trickle(request, step);
    else
      client.send(request);
    const std::string reply = client.read_reply(5000ms);
    const std::size_t end = reply.find("\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
    return end == std::string::npos ? "<no reply>" : reply.substr(end + 4);
  }
  void rejected(const std::string& request) {
    Client client(server.port);
    client.send(request);
    EXPECT_EQ(client.read_all(), "");
    EXPECT_TRUE(client.closed());
    EXPECT_TRUE(server.heard(boost::system::errc::protocol_error));
  }
  TestServer server;
};

std::string post(const std::string& fields, const std::string& body) {
  return "POST /p HTTP/1.1\r\n" + fields + "\r\n" + body;
}

std::string chunked(const std::string& body, std::size_t piece, const std::string& extension = "") {
  std::string out;
  for (std::size_t i = 0; i < body.size(); i += piece) {
    const std::string part = body.substr(i, piece);
    char size[32];
    std::snprintf(size, sizeof size, "%zx", part.size());
    out += size + extension + "\r\n" + part + "\r\n";
  }
  return out + "0\r\n\r\n";
}

TEST_F(Body, ContentLengthBody) {
  EXPECT_EQ(echoed(post("Content-Length: 11\r\n", "hello world")), "hello world");
}

TEST_F(Body, ContentLengthBodyInManySmallWrites) {
  std::string body;
  for (int i = 0; i < 400; ++i) body += static_cast<char>('a' + i % 26);
  EXPECT_EQ(echoed(post("Content-Length: 400\r\n", body), 7), body);
}

TEST_F(Body, ZeroLengthIsServedAtOnce) {
  EXPECT_EQ(echoed(post("Content-Length: 0\r\n", "")), "");
}

TEST_F(Body, BytesBeyondContentLengthStayInContent) {
  Client client(server.port);
  client.send(post("Content-Length: 5\r\n", "helloGET /next HTTP/1.1\r\n\r\n"));
  const std::string reply = client.read_reply();
  EXPECT_NE(reply.find("\r\n\r\nhelloGET /next HTTP/1.1\r\n\r\n"), std::string::npos) << reply;
  // The trailing bytes were body, not a request of their own.
  EXPECT_EQ(client.read_reply(500ms), "");
  EXPECT_EQ(server.seen().size(), 1u);
}

TEST_F(Body, ChunkedBodyIsDecoded) {
  EXPECT_EQ(echoed(post("Transfer-Encoding: chunked\r\n", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")),
            "hello world");
}

TEST_F(Body, ChunkedBodyOneByteAtATimeWithExtensions) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += static_cast<char>('A' + i % 26);
  EXPECT_EQ(echoed(post("Transfer-Encoding: chunked\r\n", chunked(body, 17, ";x=1")), 1), body);
}

TEST_F(Body, ChunkedBodyWithBinaryBytes) {
  std::string body;
  for (int i = 0; i < 1000; ++i) body += static_cast<char>(i * 7);
  EXPECT_EQ(echoed(post("Transfer-Encoding: chunked\r\n", chunked(body, 256))), body);
}

TEST_F(Body, DecodedBodyComesBeforeBytesThatFollowedIt) {
  EXPECT_EQ(echoed(post("Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\nrest")), "abcrest");
}

TEST_F(Body, OnlyTheExactWordChunkedSelectsChunking) {
  const std::string raw = "3\r\nabc\r\n0\r\n\r\n";
  EXPECT_EQ(echoed(post("Transfer-Encoding: Chunked\r\n", raw)), raw);
}

TEST_F(Body, ContentLengthWinsOverChunked) {
  EXPECT_EQ(echoed(post("Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "hello")), "hello");
}

TEST_F(Body, WithoutLengthOnlyBytesSentWithTheHeadAreBody) {
  EXPECT_EQ(echoed(post("", "loose")), "loose");
}

TEST_F(Body, ContentLengthThatIsNoNumberIsMalformed) {
  rejected(post("Content-Length: abc\r\n", "abc"));
}

TEST_F(Body, ContentLengthOutOfRangeIsMalformed) {
  rejected(post("Content-Length: 99999999999999999999999\r\n", "abc"));
}

TEST_F(Body, ChunkSizeThatIsNotHexadecimalIsMalformed) {
  rejected(post("Transfer-Encoding: chunked\r\n", "zz\r\nabc\r\n0\r\n\r\n"));
}

TEST_F(Body, EmptyChunkSizeLineIsMalformed) {
  rejected(post("Transfer-Encoding: chunked\r\n", "\n\r\n"));
}

TEST_F(Body, PeerGoneMidBodyIsReported) {
  {
    Client client(server.port);
    client.send(post("Content-Length: 100\r\n", "only a little"));
  }
  const auto errors = server.wait_errors(1);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], boost::asio::error::eof);
  EXPECT_TRUE(server.seen().empty());
}

}  // namespace
}  // namespace http_test
