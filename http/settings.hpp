#pragma once
// Tunables of one server object.

#include <cstddef>
#include <cstdint>
#include <string>

namespace HttpCore {

struct ServerSettings {
  explicit ServerSettings(std::uint16_t port_ = 80) : port(port_) {}

  std::uint16_t port;
  // Threads running the event loop, the calling thread included.
  std::size_t worker_threads = 1;
  // Waiting for a request head, also the idle wait between kept-alive requests.
  long request_timeout_s = 5;
  // Reading a body, and from handler selection until the reply is written.
  long content_timeout_s = 300;
  // Largest request (head and body) held in memory; a fuller buffer is answered
  // with 413. Bounded so that one request cannot exhaust memory.
  std::size_t max_request_buffer = std::size_t(256) * 1024 * 1024;
  // What all requests being read or served may hold in their buffers
  // together; a request that would take more is answered with 413. Bounded so
  // that no number of clients can exhaust memory.
  std::size_t max_buffered_requests = std::size_t(512) * 1024 * 1024;
  // Largest request head (request line and header fields); answered with 431.
  // Large enough for the longest URLs browsers send.
  std::size_t max_head_size = std::size_t(2) * 1024 * 1024;
  // Most header fields one request may carry; answered with 431.
  std::size_t max_header_fields = 1000;
  // After an accept failed for lack of descriptors or memory, accepting
  // resumes after this pause instead of retrying at once.
  long accept_retry_delay_ms = 50;
  // Empty: the IPv4 any-address. Otherwise an IPv4 or IPv6 address as text.
  std::string bind_address;
  bool allow_address_reuse = true;
};

}  // namespace HttpCore
