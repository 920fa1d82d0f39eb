#pragma once
// Test harness: a real server on an ephemeral loopback port, run on its own
// thread, and a blocking client with bounded waits.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>

#include "http/server.hpp"

namespace http_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;
using HttpCore::HeaderMap;
using Request = HttpCore::ServerBase::Request;
using Response = HttpCore::ServerBase::Response;

// What a handler saw of one request.
struct Seen {
  std::string method, path, query, version, body;
  HeaderMap header;
  std::string remote_address;
  std::uint16_t remote_port = 0;
  std::size_t path_groups = 0;
};

class TestServer {
 public:
  TestServer() {
    server.settings.bind_address = "127.0.0.1";
    server.error_hook = [this](std::shared_ptr<Request>, const boost::system::error_code& ec) {
      std::lock_guard<std::mutex> lock(mutex_);
      errors_.push_back(ec);
      changed_.notify_all();
    };
  }
  ~TestServer() { shut_down(); }

  // Answers GET and POST with 200 and the request body, recording the request.
  void echo_get_and_post() {
    auto echo = [this](std::shared_ptr<Response> response, std::shared_ptr<Request> request) {
      Seen seen = record(*request);
      response->write_status(200, seen.body);
    };
    server.default_handlers["GET"] = echo;
    server.default_handlers["POST"] = echo;
  }

  Seen record(Request& request) {
    Seen seen{request.method, request.path,    request.query,          request.version,
              request.content.text(), request.header, request.remote_address(), request.remote_port(),
              request.path_groups.size()};
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(seen);
    changed_.notify_all();
    return seen;
  }

  void start() {
    port = server.bind_listener();
    // The loop runs handlers only after listen_and_run has listened.
    std::promise<void> listening;
    boost::asio::post(*server.event_loop, [&listening] { listening.set_value(); });
    thread_ = std::thread([this] { server.listen_and_run(); });
    listening.get_future().wait();
  }

  void shut_down() {
    if (!thread_.joinable()) return;
    boost::asio::post(*server.event_loop, [this] { server.stop(); });
    thread_.join();
  }

  // Waits until `count` requests reached a handler; returns what they were.
  std::vector<Seen> wait_seen(std::size_t count, Milliseconds timeout = 3000ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return seen_.size() >= count; });
    return seen_;
  }
  std::vector<Seen> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  // Waits until the error hook heard `count` errors; returns them.
  std::vector<boost::system::error_code> wait_errors(std::size_t count, Milliseconds timeout = 3000ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return errors_.size() >= count; });
    return errors_;
  }
  std::vector<boost::system::error_code> errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

  bool heard(boost::system::errc::errc_t code, Milliseconds timeout = 3000ms) {
    const auto wanted = boost::system::errc::make_error_code(code);
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto& ec : errors_)
        if (ec == wanted) return true;
      return false;
    });
  }

  HttpCore::Server server{0};
  std::uint16_t port = 0;

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Seen> seen_;
  std::vector<boost::system::error_code> errors_;
};

class Client {
 public:
  struct Later {};
  explicit Client(std::uint16_t port, const char* address = "127.0.0.1") : Client(Later{}, port, address) {
    if (!connect()) {
      ::close(fd_);
      fd_ = -1;
      throw std::runtime_error("connect");
    }
  }
  // A socket that connects only when connect() is called.
  Client(Later, std::uint16_t port, const char* address = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &to_.sin_addr);
  }
  bool connect() { return ::connect(fd_, reinterpret_cast<sockaddr*>(&to_), sizeof to_) == 0; }
  ~Client() {
    if (fd_ >= 0) ::close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Sends the bytes a few at a time with pauses, so they arrive as many reads.
  bool trickle(const std::string& bytes, std::size_t step, Milliseconds pause = 1ms) {
    for (std::size_t i = 0; i < bytes.size(); i += step) {
      if (!send(bytes.substr(i, step))) return false;
      std::this_thread::sleep_for(pause);
    }
    return true;
  }

  // One reply (head and Content-Length body); empty when none came in time.
  std::string read_reply(Milliseconds timeout = 3000ms) {
    const auto deadline = Clock::now() + timeout;
    std::size_t head_end;
    while ((head_end = buffered_.find("\r\n\r\n")) == std::string::npos)
      if (!fill(deadline)) return std::string();
    head_end += 4;
    std::size_t length = 0;
    const std::string head = lower(buffered_.substr(0, head_end));
    const std::size_t field = head.find("\r\ncontent-length:");
    if (field != std::string::npos) length = std::stoul(head.substr(field + 17));
    while (buffered_.size() < head_end + length)
      if (!fill(deadline)) return std::string();
    std::string reply = buffered_.substr(0, head_end + length);
    buffered_.erase(0, head_end + length);
    return reply;
  }

  // True when the server closes the connection (end of stream or reset)
  // within the time-out. Bytes that arrive meanwhile are kept.
  bool wait_closed(Milliseconds timeout = 3000ms) {
    const auto deadline = Clock::now() + timeout;
    while (fill(deadline)) {
    }
    return closed_;
  }

  // Everything received until the server closed or the time-out passed.
  std::string read_all(Milliseconds timeout = 3000ms) {
    wait_closed(timeout);
    std::string all;
    all.swap(buffered_);
    return all;
  }

  bool closed() const { return closed_; }
  int fd() const { return fd_; }

 private:
  static std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  // Reads what arrives before the deadline; false on close or time-out.
  bool fill(Clock::time_point deadline) {
    if (closed_) return false;
    for (;;) {
      const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      char chunk[65536];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        closed_ = true;
        return false;
      }
      buffered_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
  }

  int fd_ = -1;
  sockaddr_in to_{};
  bool closed_ = false;
  std::string buffered_;
};

// A small HTTP/1.1 GET with a Host field.
inline std::string get(const std::string& target, const std::string& fields = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: test\r\n" + fields + "\r\n";
}

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace http_test
