// Feeds arbitrary bytes to the request parsers, and as a client's byte
// stream through the real request reading (head, Content-Length and chunked
// bodies, limits, routing and replies) over an in-process socket pair.
//
// The first byte picks the limits, so small buffers, heads and request
// budgets are reached. A request with an X-Source field is answered with a
// body source giving its body a few bytes at a time, one that fails midway
// when the body holds "FAIL".

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/streambuf.hpp>

#include "http/server.hpp"

namespace {

using HttpCore::ServerBase;

class PiecesSource : public HttpCore::BodySource {
 public:
  PiecesSource(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  std::uint64_t size() const override { return bytes_.size(); }
  boost::asio::const_buffer next(boost::system::error_code& ec) override {
    if (given_ > 0 && bytes_.find("FAIL") != std::string::npos) {
      ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
      return {};
    }
    const std::size_t n = std::min(piece_, bytes_.size() - given_);
    const char* at = bytes_.data() + given_;
    given_ += n;
    return boost::asio::const_buffer(at, n);
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t given_ = 0;
};

void parse_alone(const std::string& text) {
  std::istringstream stream(text);
  std::string method, path, query, version;
  HttpCore::HeaderMap header;
  if (HttpCore::parse_request_head(stream, method, path, query, version, header, 64)) {
    for (const auto& field : HttpCore::parse_query(query)) (void)field;
  }
  HttpCore::parse_query(text);
  HttpCore::percent_decode(text);
  unsigned long long length = 0;
  HttpCore::parse_content_length(text, length);
  unsigned long chunk = 0;
  HttpCore::parse_chunk_size(text, chunk);
}

struct Harness {
  Harness() {
    loop = std::make_shared<boost::asio::io_context>(1);
    server.event_loop = loop;
    server.settings.request_timeout_s = 1;
    server.settings.content_timeout_s = 1;
    auto answer = [](std::shared_ptr<ServerBase::Response> response,
                     std::shared_ptr<ServerBase::Request> request) {
      std::string body = request->content.text();
      for (const auto& field : request->query_fields()) body += field.first + field.second;
      for (std::size_t i = 0; i < request->path_groups.size(); ++i) body += request->path_groups[i].str();
      if (request->header.count("x-throw")) throw std::runtime_error("handler failed");
      auto source_field = request->header.find("x-source");
      if (source_field != request->header.end() && !body.empty()) {
        *response << "HTTP/1.1 200 OK\r\n";
        response->write_headers({}, body.size() + 1);
        const std::size_t piece = source_field->second.size() % 7 + 1;
        response->append_source(std::make_unique<PiecesSource>(std::move(body), piece));
        *response << "!";
        return;
      }
      if (request->header.count("x-hand-over")) {
        // The body handed over after the head, with text after it.
        *response << "HTTP/1.1 200 OK\r\n";
        response->write_headers({{"X-Remote", request->remote_address()}}, body.size() + 1);
        response->append_body(std::move(body));
        *response << "!";
        return;
      }
      response->write_status(200, body, {{"X-Remote", request->remote_address()}});
    };
    server.default_handlers["GET"] = answer;
    server.default_handlers["POST"] = answer;
    server.routes["^/r/([a-z]*)$"]["GET"] = answer;
    server.error_hook = [](std::shared_ptr<ServerBase::Request>, const boost::system::error_code&) {};
  }

  void serve_stream(const std::uint8_t* data, std::size_t size, std::uint8_t knobs) {
    static const std::size_t buffers[] = {48, 200, 4096, std::size_t(1) << 20};
    static const std::size_t heads[] = {24, 100, 2048, std::size_t(1) << 20};
    server.settings.max_request_buffer = buffers[knobs & 3];
    server.settings.max_head_size = heads[(knobs >> 2) & 3];
    server.settings.max_header_fields = (knobs & 16) ? 3 : 1000;
    // Every input ends with nothing buffered, so the budget starts afresh.
    server.settings.max_buffered_requests = (knobs & 32) ? 300 : std::size_t(64) << 20;
    server.forget_budget();

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    // The whole input is written up front, then the client's side is shut.
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    while (written < size) {
      const ssize_t n = ::send(fds[1], data + written, size - written, MSG_NOSIGNAL);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);

    auto connection = server.make_connection(*loop);
    boost::system::error_code ec;
    connection->socket->assign(boost::asio::ip::tcp::v4(), fds[0], ec);
    if (ec) {
      ::close(fds[0]);
      ::close(fds[1]);
      return;
    }
    boost::asio::local::stream_protocol::socket peer(*loop);
    peer.assign(boost::asio::local::stream_protocol(), fds[1]);
    boost::asio::streambuf replies;
    // Replies are drained so that no write can block.
    boost::asio::async_read(peer, replies, [](const boost::system::error_code&, std::size_t) {});

    server.read_request(std::make_shared<ServerBase::Session>(server.settings.max_request_buffer, connection));
    connection.reset();
    loop->restart();
    loop->run();
  }

  // The server, with its budget made anew from the settings.
  struct FuzzServer : HttpCore::Server {
    FuzzServer() : HttpCore::Server(0) {}
    void forget_budget() { request_budget.reset(); }
  };

  std::shared_ptr<boost::asio::io_context> loop;
  FuzzServer server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static Harness harness;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  parse_alone(text);
  harness.serve_stream(data + 1, size - 1, data[0]);
  return 0;
}
