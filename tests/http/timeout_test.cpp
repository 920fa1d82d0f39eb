// Time-outs: a connection is closed at a deadline counted from arming, so
// silent, idle and slow clients cannot hold it.

#include <gtest/gtest.h>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class Timeouts : public ::testing::Test {
 protected:
  void SetUp() override {
    server.echo_get_and_post();
    server.server.settings.request_timeout_s = 1;
    server.server.settings.content_timeout_s = 1;
  }
  // Seconds until the server closes the client, which has sent `bytes`.
  double closed_after(Client& client, const std::string& bytes = "") {
    const auto start = Clock::now();
    if (!bytes.empty()) client.send(bytes);
    EXPECT_TRUE(client.wait_closed(4000ms));
    return seconds_since(start);
  }
  TestServer server;
};

TEST_F(Timeouts, SilentConnectionIsClosed) {
  server.start();
  Client client(server.port);
  const double waited = closed_after(client);
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
  EXPECT_TRUE(server.seen().empty());
}

TEST_F(Timeouts, HeadWithBareLineFeedsNeverCompletes) {
  server.start();
  Client client(server.port);
  const double waited = closed_after(client, "GET / HTTP/1.1\n\n");
  EXPECT_GT(waited, 0.8);
  EXPECT_TRUE(server.seen().empty());
  EXPECT_EQ(client.read_all(10ms), "");
}

TEST_F(Timeouts, IdleKeptAliveConnectionIsClosed) {
  server.start();
  Client client(server.port);
  client.send(get("/"));
  ASSERT_FALSE(client.read_reply().empty());
  const double waited = closed_after(client);
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
}

TEST_F(Timeouts, ShorterIdleTimeoutAfterLongerReplyTimeout) {
  server.server.settings.content_timeout_s = 3;
  server.start();
  Client client(server.port);
  client.send(get("/"));
  ASSERT_FALSE(client.read_reply().empty());
  const double waited = closed_after(client);
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
}

TEST_F(Timeouts, StalledBodyIsCutOff) {
  server.start();
  Client client(server.port);
  const double waited = closed_after(client, "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
  EXPECT_TRUE(server.seen().empty());
  EXPECT_FALSE(server.wait_errors(1).empty());
}

TEST_F(Timeouts, StalledChunkIsCutOff) {
  server.start();
  Client client(server.port);
  const double waited =
      closed_after(client, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc");
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
  EXPECT_TRUE(server.seen().empty());
}

TEST_F(Timeouts, SteadyTrickleIsCutAtTheDeadline) {
  server.start();
  Client client(server.port);
  const auto start = Clock::now();
  std::thread sender([&] { client.trickle("GET / HTTP/1.1\r\nX: " + std::string(40, 'a'), 1, 60ms); });
  EXPECT_TRUE(client.wait_closed(4000ms));
  const double waited = seconds_since(start);
  sender.join();
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 2.0);
}

TEST_F(Timeouts, ManySilentClientsAreAllClosedAndServingGoesOn) {
  server.start();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 200; ++i) clients.push_back(std::make_unique<Client>(server.port));
  for (auto& client : clients) EXPECT_TRUE(client->wait_closed(4000ms));
  Client after(server.port);
  after.send(get("/"));
  EXPECT_FALSE(after.read_reply().empty());
  // Only the connection waiting for the next accept is left.
  const auto deadline = Clock::now() + 2000ms;
  while (server.server.live_connection_count() > 2 && Clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_LE(server.server.live_connection_count(), 2u);
}

TEST(DefaultTimeout, SilentConnectionIsClosedAfterFiveSeconds) {
  TestServer server;
  server.start();
  Client client(server.port);
  const auto start = Clock::now();
  EXPECT_TRUE(client.wait_closed(8000ms));
  const double waited = seconds_since(start);
  EXPECT_GT(waited, 4.8);
  EXPECT_LT(waited, 6.5);
}

TEST(DefaultTimeout, KeptAliveConnectionIsClosedFiveSecondsAfterTheReply) {
  TestServer server;
  server.echo_get_and_post();
  server.start();
  Client client(server.port);
  client.send(get("/"));
  ASSERT_FALSE(client.read_reply().empty());
  const auto start = Clock::now();
  EXPECT_TRUE(client.wait_closed(8000ms));
  const double waited = seconds_since(start);
  EXPECT_GT(waited, 4.8);
  EXPECT_LT(waited, 6.5);
}

}  // namespace
}  // namespace http_test
