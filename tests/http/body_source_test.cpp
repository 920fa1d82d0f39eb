// Bodies made while they are sent: pieces asked for one at a time as the
// socket takes them, in order with the rest of the reply, and a source that
// fails ends the connection instead of finishing a wrong reply.

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>

#include "http/body_source.hpp"
#include "server_fixture.hpp"

namespace http_test {
namespace {

std::string pattern(std::size_t size, std::size_t seed = 0) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('A' + (i * 7 + seed) % 26);
  return text;
}

// Gives `bytes` in pieces of `piece` bytes; fails after `fail_after` bytes
// when set, or hands out one byte more than promised when `overrun` is set.
class TestSource : public HttpCore::BodySource {
 public:
  struct Log {
    std::atomic<std::size_t> pieces{0};
    std::atomic<bool> destroyed{false};
  };
  TestSource(std::string bytes, std::size_t piece, Log* log)
      : bytes_(std::move(bytes)), piece_(piece), log_(log) {}
  ~TestSource() override {
    if (log_) log_->destroyed = true;
  }
  std::size_t fail_after = std::string::npos;
  bool overrun = false;

  std::uint64_t size() const override { return bytes_.size(); }
  boost::asio::const_buffer next(boost::system::error_code& ec) override {
    if (log_) ++log_->pieces;
    if (given_ >= fail_after) {
      ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
      return {};
    }
    if (overrun) {
      extra_ = bytes_.substr(given_) + "!";
      given_ = bytes_.size();
      return boost::asio::buffer(extra_);
    }
    const std::size_t n = std::min(piece_, bytes_.size() - given_);
    const char* at = bytes_.data() + given_;
    given_ += n;
    return boost::asio::const_buffer(at, n);
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  Log* log_;
  std::size_t given_ = 0;
  std::string extra_;
};

class BodySources : public ::testing::Test {
 protected:
  TestServer server;
  TestSource::Log log;
};

TEST_F(BodySources, PiecesFollowTheTextAndBodiesInTheOrderWritten) {
  const std::string first = pattern(300000, 1);
  const std::string second = pattern(7, 2);
  std::size_t size_seen = 0;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response, std::shared_ptr<Request>) {
    const std::size_t length = 1 + first.size() + 1 + 4 + second.size() + 1;
    *response << "HTTP/1.1 200 OK\r\n";
    response->write_headers({}, length);
    *response << "[";
    response->append_source(std::make_unique<TestSource>(first, 4096, &log));
    *response << "|";
    response->append_body(std::string("body"));
    response->append_source(std::make_unique<TestSource>(second, 3, nullptr));
    response->append_source(std::make_unique<TestSource>(std::string(), 3, nullptr));
    *response << "]";
    size_seen = response->size();
  };
  server.start();
  Client client(server.port);
  client.send(get("/"));
  const std::string body = "[" + first + "|body" + second + "]";
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  const std::string reply = client.read_reply(5000ms);
  ASSERT_EQ(reply.size(), head.size() + body.size());
  EXPECT_TRUE(reply == head + body);
  EXPECT_EQ(size_seen, reply.size());
  EXPECT_EQ(log.pieces.load(), (first.size() + 4095) / 4096);
  EXPECT_TRUE(log.destroyed);
  // The connection goes on to the next request.
  client.send(get("/"));
  EXPECT_EQ(client.read_reply(5000ms).size(), reply.size());
}

TEST_F(BodySources, AReaderThatStallsHoldsTheSourceBack) {
  const std::size_t total = 64 * 1024 * 1024;
  const std::size_t piece = 64 * 1024;
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response, std::shared_ptr<Request>) {
    *response << "HTTP/1.1 200 OK\r\n";
    response->write_headers({}, total);
    response->append_source(std::make_unique<TestSource>(pattern(total), piece, &log));
  };
  server.start();
  Client client(server.port);
  int small = 64 * 1024;
  ::setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  client.send(get("/", "Connection: close\r\n"));
  std::this_thread::sleep_for(500ms);
  // Only what the socket buffers hold has been asked for.
  const std::size_t asked_while_stalled = log.pieces.load();
  EXPECT_GT(asked_while_stalled, 0u);
  EXPECT_LT(asked_while_stalled * piece, total / 8);
  const std::string reply = client.read_reply(20000ms);
  EXPECT_EQ(reply.size() - reply.find("\r\n\r\n") - 4, total);
  EXPECT_EQ(log.pieces.load(), total / piece);
}

struct Broken {
  const char* name;
  bool overrun;
  std::size_t fail_after;
};

// Named in test listings by its name, not its bytes.
void PrintTo(const Broken& broken, std::ostream* out) { *out << broken.name; }

class BrokenSources : public BodySources, public ::testing::WithParamInterface<Broken> {};

TEST_P(BrokenSources, EndTheConnectionBeforeTheReplyIsWhole) {
  const std::string bytes = pattern(200000);
  std::atomic<int> served{0};
  server.server.default_handlers["GET"] = [&](std::shared_ptr<Response> response, std::shared_ptr<Request>) {
    ++served;
    *response << "HTTP/1.1 200 OK\r\n";
    response->write_headers({}, bytes.size() + 1);
    auto source = std::make_unique<TestSource>(bytes, 50000, &log);
    source->fail_after = GetParam().fail_after;
    source->overrun = GetParam().overrun;
    response->append_source(std::move(source));
    *response << ".";
  };
  server.start();
  Client client(server.port);
  client.send(get("/") + get("/"));
  const std::string all = client.read_all(5000ms);
  EXPECT_TRUE(client.closed());
  const std::size_t head_end = all.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos) << all.substr(0, 200);
  // Only bytes the source gave before failing, never the text after it.
  const std::string body = all.substr(head_end + 4);
  EXPECT_LT(body.size(), bytes.size() + 1);
  EXPECT_EQ(body, bytes.substr(0, body.size()));
  EXPECT_TRUE(server.heard(boost::system::errc::io_error));
  EXPECT_TRUE(log.destroyed);
  EXPECT_EQ(served.load(), 1);  // the second request was never read
}

INSTANTIATE_TEST_SUITE_P(Sources, BrokenSources,
                         ::testing::Values(Broken{"FailsAtOnce", false, 0}, Broken{"FailsMidway", false, 100000},
                                           Broken{"GivesMoreThanPromised", true, std::string::npos}),
                         [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace http_test
