// Bounds a hostile client runs into: the request buffer (413), the head size
// and field count (431), and chunk sizes that could not fit.

#include <gtest/gtest.h>

#include "server_fixture.hpp"

namespace http_test {
namespace {

const std::string kPayloadTooLarge = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n";
const std::string kFieldsTooLarge =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n\r\n";

class Limits : public ::testing::Test {
 protected:
  void SetUp() override { server.echo_get_and_post(); }
  // Sends the request, expects `reply`, then the close, and the error hook
  // told of the size.
  void refused(const std::string& request, const std::string& reply) {
    Client client(server.port);
    client.send(request);
    EXPECT_EQ(client.read_all(), reply);
    EXPECT_TRUE(client.closed());
    EXPECT_TRUE(server.heard(boost::system::errc::message_size));
    EXPECT_TRUE(server.seen().empty());
    // Others are still served.
    Client next(server.port);
    next.send(get("/after"));
    EXPECT_EQ(next.read_reply().rfind("HTTP/1.1 200 OK", 0), 0u);
  }
  TestServer server;
};

TEST_F(Limits, BodyBeyondTheBufferGets413) {
  server.server.settings.max_request_buffer = 1024;
  server.start();
  refused("POST / HTTP/1.1\r\nContent-Length: 4000\r\n\r\n" + std::string(4000, 'x'), kPayloadTooLarge);
}

TEST_F(Limits, BodyExactlyFittingBelowTheLimitIsServed) {
  server.server.settings.max_request_buffer = 1024;
  server.start();
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 900\r\n\r\n";
  Client client(server.port);
  client.send(head + std::string(900, 'y'));
  const std::string reply = client.read_reply();
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(reply.size() - reply.find("\r\n\r\n") - 4, 900u);
}

TEST_F(Limits, HeadBeyondTheBufferGets413) {
  server.server.settings.max_request_buffer = 512;
  server.start();
  refused("GET / HTTP/1.1\r\nX: " + std::string(2000, 'h') + "\r\n\r\n", kPayloadTooLarge);
}

TEST_F(Limits, ChunkedBodyBeyondTheBufferGets413) {
  server.server.settings.max_request_buffer = 1024;
  server.start();
  std::string body = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 20; ++i) body += "64\r\n" + std::string(100, 'c') + "\r\n";
  refused(body + "0\r\n\r\n", kPayloadTooLarge);
}

TEST_F(Limits, HugeChunkSizeGets413WithoutWaitingForData) {
  server.start();
  refused("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n", kPayloadTooLarge);
}

TEST_F(Limits, LongHeadGets431) {
  server.server.settings.max_head_size = 4096;
  server.start();
  refused("GET / HTTP/1.1\r\nX: " + std::string(8000, 'h') + "\r\n\r\n", kFieldsTooLarge);
}

TEST_F(Limits, HeadWithoutEndGets431AtTheLimit) {
  server.server.settings.max_head_size = 4096;
  server.start();
  refused("GET / HTTP/1.1\r\n" + std::string(5000, 'h'), kFieldsTooLarge);
}

TEST_F(Limits, HugeHeadAtDefaultLimitsGets431) {
  server.start();
  std::string head = "GET / HTTP/1.1\r\n";
  while (head.size() < 3 * 1024 * 1024) head += "X-Filler: " + std::string(100, 'f') + "\r\n";
  refused(head + "\r\n", kFieldsTooLarge);
}

TEST_F(Limits, TooManyHeaderFieldsGet431) {
  server.start();
  std::string fields;
  for (int i = 0; i < 1001; ++i) fields += "F" + std::to_string(i) + ": v\r\n";
  refused(get("/", fields), kFieldsTooLarge);
}

TEST_F(Limits, AsManyFieldsAsAllowedAreServed) {
  server.start();
  std::string fields;
  for (int i = 0; i < 999; ++i) fields += "F" + std::to_string(i) + ": v\r\n";
  Client client(server.port);
  client.send(get("/", fields));  // 999 fields and Host
  EXPECT_EQ(client.read_reply().rfind("HTTP/1.1 200 OK", 0), 0u);
  auto seen = server.wait_seen(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].header.size(), 1000u);
}

TEST_F(Limits, ManyTinyChunksAreDecoded) {
  server.start();
  std::string body = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 5000; ++i) body += "1\r\nz\r\n";
  Client client(server.port);
  client.send(body + "0\r\n\r\n");
  const std::string reply = client.read_reply(10000ms);
  EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), std::string(5000, 'z'));
}

}  // namespace
}  // namespace http_test
