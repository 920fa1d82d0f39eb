// Bounds a hostile client runs into: the request buffer (413), the head size
// and field count (431), chunk sizes that could not fit, and the budget that
// all connections' buffered requests share (413).

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

// The budget all requests share: small here, so that a few bodies use it up.
class RequestBudget : public Limits {
 protected:
  void SetUp() override {
    Limits::SetUp();
    server.server.settings.max_buffered_requests = 256 * 1024;
    server.server.settings.max_request_buffer = 1024 * 1024;
    server.start();
  }
  // Waits until the server's buffers hold at least `bytes`.
  bool buffered_at_least(std::size_t bytes) {
    const auto deadline = Clock::now() + 3000ms;
    while (server.server.buffered_request_bytes() < bytes) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  bool buffered_at_most(std::size_t bytes) {
    const auto deadline = Clock::now() + 3000ms;
    while (server.server.buffered_request_bytes() > bytes) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  static std::string post_head(std::size_t length) {
    return "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  }
};

TEST_F(RequestBudget, BodyThatWouldGoOverIsRefusedAtOnceWhileOthersAreServed) {
  // Two bodies held back one byte short take most of the budget.
  Client first(server.port);
  Client second(server.port);
  first.send(post_head(100000) + std::string(99999, 'a'));
  second.send(post_head(100000) + std::string(99999, 'b'));
  ASSERT_TRUE(buffered_at_least(200000));

  // A third is answered before it sends a byte of its body.
  Client third(server.port);
  third.send(post_head(100000));
  EXPECT_EQ(third.read_all(), kPayloadTooLarge);
  EXPECT_TRUE(server.heard(boost::system::errc::message_size));
  EXPECT_LE(server.server.buffered_request_bytes(), 256u * 1024);

  // Requests without a large body are still served meanwhile.
  Client small(server.port);
  small.send("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
  EXPECT_EQ(small.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");

  // The held bodies complete, and what they took is free again.
  first.send("a");
  second.send("b");
  EXPECT_EQ(first.read_reply().size(), std::string("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").size() + 100000);
  EXPECT_EQ(second.read_reply().size(), std::string("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").size() + 100000);
  first.send(get("/", "Connection: close\r\n"));
  second.send(get("/", "Connection: close\r\n"));
  EXPECT_TRUE(first.wait_closed());
  EXPECT_TRUE(second.wait_closed());
  EXPECT_TRUE(buffered_at_most(64 * 1024));
  Client again(server.port);
  again.send(post_head(100000) + std::string(100000, 'c'));
  EXPECT_EQ(again.read_reply().rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(RequestBudget, UnfinishedHeadsCountAndAreCutOffAtTheBudget) {
  std::vector<std::unique_ptr<Client>> clients;
  std::size_t refused = 0;
  for (int i = 0; i < 16 && refused == 0; ++i) {
    clients.push_back(std::make_unique<Client>(server.port));
    clients.back()->send("GET / HTTP/1.1\r\nX-Long: " + std::string(60000, 'x'));
    const std::string reply = clients.back()->read_all(300ms);
    if (reply == kPayloadTooLarge) ++refused;
    EXPECT_LE(server.server.buffered_request_bytes(), 256u * 1024);
  }
  EXPECT_EQ(refused, 1u);
  EXPECT_GE(clients.size(), 3u);
  clients.clear();
  EXPECT_TRUE(buffered_at_most(0));
  Client next(server.port);
  next.send(get("/"));
  EXPECT_EQ(next.read_reply().rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(RequestBudget, ChunkedBodyStaysCountedWhileItsNextSizeLineIsAwaited) {
  Client client(server.port);
  std::string body = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) body += "4e20\r\n" + std::string(20000, 'c') + "\r\n";
  client.send(body + "1");  // stalls inside the next chunk-size line
  EXPECT_TRUE(buffered_at_least(60000));
  std::this_thread::sleep_for(100ms);
  EXPECT_GE(server.server.buffered_request_bytes(), 60000u);
}

TEST_F(RequestBudget, ChunkedBodyIsCutOffAtTheBudget) {
  std::string body = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 100; ++i) body += "1000\r\n" + std::string(4096, 'c') + "\r\n";
  refused(body + "0\r\n\r\n", kPayloadTooLarge);
  EXPECT_TRUE(buffered_at_most(0));
}

}  // namespace
}  // namespace http_test
