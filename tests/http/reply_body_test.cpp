// Bodies handed over to a reply without copying, and what a kept-alive
// connection carries from one request to the next (nothing a handler can see).

#include <gtest/gtest.h>

#include <iomanip>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class ReplyBody : public ::testing::Test {
 protected:
  TestServer server;
};

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7) % 26);
  return text;
}

TEST_F(ReplyBody, HandedOverBodyFollowsTheHeadWithItsLength) {
  const std::string big = pattern(3 * 1024 * 1024 + 17);
  std::size_t size_seen = 0;
  bool emptied = false;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request> request) {
    std::string body = request->path == "/big" ? big : "small body";
    const std::size_t length = body.size();
    *response << "HTTP/1.1 200 OK\r\n";
    response->write_headers({{"X-A", "1"}}, length);
    response->append_body(std::move(body));
    emptied = body.empty();
    size_seen = response->size();
  };
  server.start();

  Client client(server.port);
  client.send(get("/big"));
  const std::string head = "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n";
  const std::string reply = client.read_reply(5000ms);
  ASSERT_EQ(reply.size(), head.size() + big.size());
  EXPECT_EQ(reply.compare(0, head.size(), head), 0) << reply.substr(0, 100);
  EXPECT_TRUE(reply.compare(head.size(), std::string::npos, big) == 0);
  EXPECT_EQ(size_seen, head.size() + big.size());
  EXPECT_TRUE(emptied);

  // The connection serves the next request as usual.
  client.send(get("/small"));
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 10\r\n\r\nsmall body");
  EXPECT_FALSE(client.wait_closed(200ms));
}

TEST_F(ReplyBody, TextAndBodiesKeepTheOrderTheyWereWrittenIn) {
  std::size_t sizes[4] = {};
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request>) {
    response->write_status(200, {{"Content-Length", "13"}});
    sizes[0] = response->size();
    response->append_body(std::string("one"));
    *response << "-";
    response->append_body(std::string("two"));
    response->append_body(std::string("three"));
    sizes[1] = response->size();
    response->append_body(std::string());
    sizes[2] = response->size();
    *response << "!";
    sizes[3] = response->size();
  };
  server.start();
  Client client(server.port);
  client.send(get("/"));
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n";
  EXPECT_EQ(client.read_reply(), head + "one-twothree!");
  EXPECT_EQ(sizes[0], head.size());
  EXPECT_EQ(sizes[1], head.size() + 12);
  EXPECT_EQ(sizes[2], sizes[1]);
  EXPECT_EQ(sizes[3], head.size() + 13);
}

TEST_F(ReplyBody, BodyOfAReplyLeftHeldIsSentWhenReleased) {
  std::shared_ptr<Response> held;
  std::mutex mutex;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request>) {
    response->write_status(200, {{"Content-Length", "4"}});
    response->append_body(std::string("late"));
    std::lock_guard<std::mutex> lock(mutex);
    held = response;
  };
  server.start();
  Client client(server.port);
  client.send(get("/"));
  EXPECT_EQ(client.read_reply(200ms), "");
  boost::asio::post(*server.server.event_loop, [&] {
    std::lock_guard<std::mutex> lock(mutex);
    held.reset();
  });
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlate");
}

// The objects of one request cycle serve the next one only when nobody can
// tell: a handler that keeps them sees them unchanged, and stream settings or
// errors of one reply do not reach the next.
class NextRequest : public ::testing::Test {
 protected:
  TestServer server;
};

TEST_F(NextRequest, RequestKeptByAHandlerIsNotReused) {
  std::vector<std::shared_ptr<Request>> kept;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request> request) {
    kept.push_back(request);
    response->write_status(200, request->path);
  };
  server.start();
  Client client(server.port);
  client.send(get("/first?a=1"));
  EXPECT_NE(client.read_reply().find("/first"), std::string::npos);
  client.send(get("/second", "X-B: 2\r\n"));
  EXPECT_NE(client.read_reply().find("/second"), std::string::npos);
  server.shut_down();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_NE(kept[0], kept[1]);
  EXPECT_EQ(kept[0]->path, "/first");
  EXPECT_EQ(kept[0]->query, "a=1");
  EXPECT_EQ(kept[0]->header.count("X-B"), 0u);
  EXPECT_EQ(kept[1]->path, "/second");
  EXPECT_EQ(kept[1]->header.count("X-B"), 1u);
}

TEST_F(NextRequest, StartsEmptyAfterLeftoverBytesAndAQuery) {
  server.echo_get_and_post();
  server.start();
  Client client(server.port);
  client.send("POST /p?q=1 HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloEXTRA");
  const std::string first = client.read_reply();
  EXPECT_NE(first.find("\r\n\r\nhelloEXTRA"), std::string::npos) << first;
  // Without a '?' the query stays as it was, which in a new request is empty.
  client.send(get("/q"));
  const std::string second = client.read_reply();
  EXPECT_NE(second.find("Content-Length: 0\r\n\r\n"), std::string::npos) << second;
  const auto seen = server.wait_seen(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].query, "");
  EXPECT_EQ(seen[1].body, "");
  EXPECT_EQ(seen[1].header.count("Content-Length"), 0u);
}

TEST_F(NextRequest, StreamStateOfOneCycleDoesNotReachTheNext) {
  server.server.default_handlers["POST"] = [&](std::shared_ptr<Response> response,
                                               std::shared_ptr<Request> request) {
    // Reading the body to its end leaves the stream at end-of-file.
    int number = 0;
    request->content >> number;
    std::string rest;
    request->content >> rest;
    if (request->path == "/spoil") {
      *response << "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n";
      *response << std::hex << std::setw(8) << std::setfill('0') << number;
      *response << static_cast<const char*>(nullptr);  // sets badbit
    } else {
      *response << "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n" << std::setw(6) << number;
    }
  };
  server.start();
  Client client(server.port);
  client.send("POST /spoil HTTP/1.1\r\nContent-Length: 6\r\n\r\n255 xx");
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n000000ff");
  // Read from the start, written at all, in decimal and padded with blanks:
  // nothing of the first cycle's streams remains.
  client.send("POST /next HTTP/1.1\r\nContent-Length: 4\r\n\r\n1234");
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n  1234");
}

}  // namespace
}  // namespace http_test
