// Choosing the handler, handler failures, and how replies are written.

#include <gtest/gtest.h>

#include <future>

#include <boost/asio/write.hpp>

#include "server_fixture.hpp"

namespace http_test {
namespace {

class Routing : public ::testing::Test {
 protected:
  // The body of the reply to one request on a new connection.
  std::string body_of(const std::string& request) {
    Client client(server.port);
    client.send(request);
    const std::string reply = client.read_reply();
    const std::size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? "<no reply>" : reply.substr(end + 4);
  }
  // Sends the request; the reply exactly as received until the close.
  std::string raw_reply(const std::string& request) {
    Client client(server.port);
    client.send(request);
    return client.read_reply();
  }
  static HttpCore::ServerBase::Handler says(const std::string& text) {
    return [text](std::shared_ptr<Response> response, std::shared_ptr<Request> request) {
      std::string body = text;
      for (std::size_t i = 1; i < request->path_groups.size(); ++i) body += "|" + request->path_groups[i].str();
      response->write_status(200, body);
    };
  }
  TestServer server;
};

TEST_F(Routing, MethodsWithoutHandlerGetNoReply) {
  server.echo_get_and_post();
  server.start();
  for (const char* method : {"OPTIONS", "HEAD", "PUT", "DELETE", "get", "Post"}) {
    Client client(server.port);
    client.send(std::string(method) + " / HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(client.read_all(), "") << method;
    EXPECT_TRUE(client.closed()) << method;
  }
  EXPECT_TRUE(server.seen().empty());
  EXPECT_TRUE(server.errors().empty());
}

TEST_F(Routing, AnyPathReachesTheDefaultHandlers) {
  server.echo_get_and_post();
  server.start();
  for (const char* path : {"/", "/import_file_as_html", "/a/b/c", "*"}) {
    Client client(server.port);
    client.send(get(path));
    EXPECT_FALSE(client.read_reply().empty()) << path;
  }
  for (const Seen& seen : server.wait_seen(4)) EXPECT_EQ(seen.path_groups, 0u);
}

TEST_F(Routing, PatternsMatchTheWholePathInSourceOrder) {
  server.server.routes["^/item/([0-9]+)$"]["GET"] = says("item");
  server.server.routes["/(a)(b)"]["GET"] = says("ab");
  server.server.routes["/(.*)x"]["GET"] = says("any-x");
  server.server.routes["^/item/(.*)x$"]["POST"] = says("post-only");
  server.server.default_handlers["GET"] = says("default");
  server.start();
  EXPECT_EQ(body_of(get("/item/42")), "item|42");
  EXPECT_EQ(body_of(get("/ab")), "ab|a|b");
  EXPECT_EQ(body_of(get("/abc")), "default");  // a search would have matched "/ab"
  // "/(.*)x" sorts before "^/item/..." and both would match.
  EXPECT_EQ(body_of(get("/item/7x")), "any-x|item/7");
  // Routes without the method are passed over.
  EXPECT_EQ(body_of("POST /item/7x HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), "post-only|7");
}

TEST_F(Routing, HandlerThrowingStillSendsWhatItWrote) {
  server.server.default_handlers["GET"] = [](std::shared_ptr<Response> response,
                                             std::shared_ptr<Request>) {
    *response << "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\npartial";
    throw std::runtime_error("handler failed");
  };
  server.start();
  Client client(server.port);
  client.send(get("/"));
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\npartial");
  EXPECT_TRUE(server.heard(boost::system::errc::operation_canceled));
  // The connection is kept as usual.
  client.send(get("/"));
  EXPECT_FALSE(client.read_reply().empty());
}

TEST_F(Routing, HandlerThrowingAnythingElseDoesNotStopTheServer) {
  server.server.default_handlers["GET"] = [](std::shared_ptr<Response> response,
                                             std::shared_ptr<Request>) {
    response->write_status(500);
    throw 42;
  };
  server.start();
  EXPECT_EQ(raw_reply(get("/")), "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(server.heard(boost::system::errc::operation_canceled));
  EXPECT_EQ(raw_reply(get("/")), "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(Routing, NothingIsSentWhileTheHandlerHoldsTheResponse) {
  std::shared_ptr<Response> held;
  std::mutex mutex;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request>) {
    *response << "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n";
    std::lock_guard<std::mutex> lock(mutex);
    held = response;
  };
  server.start();
  Client client(server.port);
  client.send(get("/"));
  EXPECT_EQ(client.read_reply(300ms), "");
  boost::asio::post(*server.server.event_loop, [&] {
    std::lock_guard<std::mutex> lock(mutex);
    *held << "done";
    held.reset();
  });
  EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
  // The reply can arrive before the handler above has let go of `mutex`:
  // the loop passes this one only after it, and both live until then.
  std::promise<void> passed;
  boost::asio::post(*server.server.event_loop, [&passed] { passed.set_value(); });
  passed.get_future().wait();
}

TEST_F(Routing, WriteStatusAddsLengthUnlessFieldsCarryOne) {
  server.server.default_handlers["GET"] = [](std::shared_ptr<Response> response,
                                             std::shared_ptr<Request> request) {
    if (request->path == "/400") response->write_status(400, "twelve bytes");
    if (request->path == "/own") response->write_status(200, "abc", {{"content-LENGTH", "3"}});
    if (request->path == "/chunked") {
      response->write_status(200, {{"Transfer-Encoding", "CHUNKED"}});
      *response << "3\r\nabc\r\n0\r\n\r\n";
    }
    if (request->path == "/unknown") response->write_status(299);
    if (request->path == "/fields") response->write_status(201, {{"X-A", "1"}});
  };
  server.start();
  EXPECT_EQ(raw_reply(get("/400")), "HTTP/1.1 400 Bad Request\r\nContent-Length: 12\r\n\r\ntwelve bytes");
  EXPECT_EQ(raw_reply(get("/own")), "HTTP/1.1 200 OK\r\ncontent-LENGTH: 3\r\n\r\nabc");
  Client chunked(server.port);
  chunked.send(get("/chunked"));
  chunked.wait_closed(500ms);
  EXPECT_EQ(chunked.read_all(10ms),
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  EXPECT_EQ(raw_reply(get("/unknown")), "HTTP/1.1 \r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(raw_reply(get("/fields")), "HTTP/1.1 201 Created\r\nX-A: 1\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(Routing, ResponseSizeCountsBufferedBytes) {
  std::size_t before = 1, after = 0;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response,
                                              std::shared_ptr<Request>) {
    before = response->size();
    response->write_status(200, "body");
    after = response->size();
  };
  server.start();
  EXPECT_EQ(raw_reply(get("/")), "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
  EXPECT_EQ(before, 0u);
  EXPECT_EQ(after, std::string("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody").size());
}

TEST_F(Routing, UpgradeHookTakesTheSocket) {
  server.server.default_handlers["GET"] = says("plain");
  server.server.upgrade_hook = [](std::unique_ptr<boost::asio::ip::tcp::socket>& socket,
                                  std::shared_ptr<Request> request) {
    auto taken = std::move(socket);
    const std::string text = "switched " + request->header.find("upgrade")->second;
    boost::asio::write(*taken, boost::asio::buffer(text));
  };
  server.start();
  Client client(server.port);
  client.send(get("/", "Upgrade: test\r\n"));
  EXPECT_EQ(client.read_all(), "switched test");
  EXPECT_EQ(body_of(get("/")), "plain");
}

TEST(StatusPhrase, KnownUnknownAndZero) {
  EXPECT_EQ(HttpCore::status_phrase(200), "200 OK");
  EXPECT_EQ(HttpCore::status_phrase(413), "413 Payload Too Large");
  EXPECT_EQ(HttpCore::status_phrase(418), "418 I'm a teapot");
  EXPECT_EQ(HttpCore::status_phrase(511), "511 Network Authentication Required");
  EXPECT_EQ(HttpCore::status_phrase(0), "");
  EXPECT_EQ(HttpCore::status_phrase(299), "");
  EXPECT_EQ(&HttpCore::status_phrase(299), &HttpCore::status_phrase(-1));
}

}  // namespace
}  // namespace http_test
