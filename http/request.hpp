#pragma once
// A request as handlers see it. The body is whatever remains in `content`
// after the head: by Content-Length, decoded from chunks, or (without either)
// the bytes that arrived with the head.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <regex>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>

#include "http/header_map.hpp"
#include "http/request_budget.hpp"
#include "http/server_base.hpp"

namespace HttpCore {

class ServerBase::Content : public std::istream {
 public:
  explicit Content(boost::asio::streambuf& buffer);
  // Bytes not yet read.
  std::size_t size() const noexcept;
  // Reads (and so consumes) every byte not yet read.
  std::string text();
  // Every byte not yet read, where it lies in the buffer: no copy, nothing
  // consumed. Valid until the content is read or its buffer changes.
  std::string_view view() const noexcept;
  // Reads from another buffer from now on.
  void rebind(boost::asio::streambuf& buffer);

 private:
  boost::asio::streambuf* buffer_;
};

class ServerBase::Request {
 public:
  Request(std::size_t max_request_buffer,
          std::shared_ptr<boost::asio::ip::tcp::endpoint> remote_endpoint);
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Dotted decimal for IPv4, the standard text form for IPv6.
  std::string remote_address() const;
  std::uint16_t remote_port() const;
  // parse_query of `query`.
  HeaderMap query_fields() const;

  // Empties the request for the next one read on the same connection, as if
  // new; false when its buffer should rather be given back.
  bool reset_for_next(std::size_t max_request_buffer);

  // Lets go of the buffer and what it holds (a refused request), so that its
  // share of the request budget is free at once.
  void drop_buffer(std::size_t max_request_buffer);

  std::unique_ptr<boost::asio::streambuf> streambuf;
  std::string method;
  std::string path;
  std::string query;
  std::string version;
  Content content;
  HeaderMap header;
  // Sub-matches of the route pattern that chose the handler; empty otherwise.
  std::smatch path_groups;
  std::shared_ptr<boost::asio::ip::tcp::endpoint> remote_endpoint;
  std::chrono::system_clock::time_point header_time;
  // The part of the server's request budget that the buffers hold.
  BudgetShare budget_share;
  // Set while reading when the budget could not take the buffer's growth.
  bool over_budget = false;
};

}  // namespace HttpCore
