// Whether a connection reads another request after a reply: only the
// request's version and Connection fields decide.

#include <gtest/gtest.h>

#include <sstream>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class KeepAlive : public ::testing::Test {
 protected:
  void SetUp() override {
    server.echo_get_and_post();
    server.start();
  }
  // Sends one request; true when the connection then serves a second one.
  bool kept(const std::string& request) {
    Client client(server.port);
    client.send(request);
    EXPECT_EQ(client.read_reply().rfind("HTTP/1.1 200 OK", 0), 0u) << request;
    if (client.wait_closed(300ms)) return false;
    client.send(get("/second"));
    const bool answered = !client.read_reply().empty();
    EXPECT_TRUE(answered) << request;
    return answered;
  }
  TestServer server;
};

TEST_F(KeepAlive, Http10ClosesUnlessAskedToKeepAlive) {
  EXPECT_FALSE(kept("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(kept("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
  EXPECT_TRUE(kept("GET / HTTP/1.0\r\nconnection: Keep-Alive\r\n\r\n"));
}

TEST_F(KeepAlive, Http11StaysOpenUnlessAskedToClose) {
  EXPECT_TRUE(kept("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(kept("GET / HTTP/1.1\r\nConnection: close\r\n\r\n"));
  EXPECT_FALSE(kept("GET / HTTP/1.1\r\nCONNECTION: CLOSE\r\n\r\n"));
}

TEST_F(KeepAlive, VersionsCompareAsText) {
  EXPECT_TRUE(kept("GET / HTTP/2\r\n\r\n"));
  EXPECT_FALSE(kept("GET / HTTP/0.9\r\n\r\n"));
  EXPECT_FALSE(kept("GET / HTTP/1\r\n\r\n"));
}

TEST_F(KeepAlive, OtherConnectionValuesArePassedOver) {
  EXPECT_FALSE(kept("GET / HTTP/1.1\r\nConnection: Upgrade\r\nConnection: close\r\n\r\n"));
  EXPECT_TRUE(kept("GET / HTTP/1.0\r\nConnection: x\r\nConnection: keep-alive\r\n\r\n"));
  EXPECT_TRUE(kept("GET / HTTP/1.1\r\nConnection: close, foo\r\n\r\n"));
}

TEST_F(KeepAlive, FirstDecidingFieldInMapOrderWins) {
  const std::string fields = "Connection: close\r\nConnection: keep-alive\r\n";
  // The map's own iteration order says which field comes first.
  std::istringstream head(fields + "\r\n");
  const HttpCore::HeaderMap header = HttpCore::parse_header_fields(head);
  const auto first = header.equal_range("connection").first;
  const bool expect_kept = HttpCore::case_insensitive_equals(first->second, "keep-alive");
  EXPECT_EQ(kept("GET / HTTP/1.0\r\n" + fields + "\r\n"), expect_kept);
  EXPECT_EQ(kept("GET / HTTP/1.1\r\n" + fields + "\r\n"), expect_kept);
}

TEST_F(KeepAlive, FieldsTheHandlerWritesDoNotDecide) {
  server.server.default_handlers["GET"] = [](std::shared_ptr<Response> response,
                                             std::shared_ptr<Request> request) {
    response->write_status(200, "x", {{"Connection", request->path == "/close" ? "close" : "keep-alive"}});
  };
  EXPECT_TRUE(kept("GET /close HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(kept("GET /keep HTTP/1.0\r\n\r\n"));
}

TEST_F(KeepAlive, CloseAfterEndsTheConnectionAndOmitsTheLength) {
  server.server.default_handlers["GET"] = [](std::shared_ptr<Response> response,
                                             std::shared_ptr<Request>) {
    response->close_after = true;
    response->write_status(200);
    *response << "until close";
  };
  Client client(server.port);
  client.send(get("/"));
  EXPECT_EQ(client.read_all(), "HTTP/1.1 200 OK\r\n\r\nuntil close");
  EXPECT_TRUE(client.closed());
}

TEST_F(KeepAlive, ManyRequestsOnOneConnection) {
  Client client(server.port);
  for (int i = 0; i < 50; ++i) {
    const std::string body = "n=" + std::to_string(i);
    client.send("POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    const std::string reply = client.read_reply();
    ASSERT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), body);
  }
}

}  // namespace
}  // namespace http_test
