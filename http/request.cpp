#include "http/request.hpp"

#include <ios>
#include <locale>

#include "http/parse.hpp"

namespace HttpCore {

ServerBase::Content::Content(boost::asio::streambuf& buffer) : std::istream(&buffer), buffer_(&buffer) {}

std::size_t ServerBase::Content::size() const noexcept { return buffer_->size(); }

std::string ServerBase::Content::text() {
  const auto data = buffer_->data();
  std::string all(static_cast<const char*>(data.data()), data.size());
  buffer_->consume(all.size());
  return all;
}

std::string_view ServerBase::Content::view() const noexcept {
  const auto data = buffer_->data();
  return std::string_view(static_cast<const char*>(data.data()), data.size());
}

void ServerBase::Content::rebind(boost::asio::streambuf& buffer) {
  buffer_ = &buffer;
  rdbuf(&buffer);
}

ServerBase::Request::Request(std::size_t max_request_buffer,
                             std::shared_ptr<boost::asio::ip::tcp::endpoint> remote_endpoint_)
    : streambuf(std::make_unique<boost::asio::streambuf>(max_request_buffer)),
      content(*streambuf),
      remote_endpoint(std::move(remote_endpoint_)) {}

std::string ServerBase::Request::remote_address() const {
  if (!remote_endpoint) return std::string();
  boost::system::error_code ec;
  std::string text = remote_endpoint->address().to_string(ec);
  return ec ? std::string() : text;
}

std::uint16_t ServerBase::Request::remote_port() const {
  return remote_endpoint ? remote_endpoint->port() : 0;
}

HeaderMap ServerBase::Request::query_fields() const { return parse_query(query); }

bool ServerBase::Request::reset_for_next(std::size_t max_request_buffer) {
  // A buffer grown for a large body is not kept for the connection's life.
  constexpr std::size_t kLargestKeptBuffer = 64 * 1024;
  if (streambuf->max_size() != max_request_buffer || streambuf->capacity() > kLargestKeptBuffer ||
      content.rdbuf() != streambuf.get())
    return false;
  // Bytes left over (beyond Content-Length) belonged to the finished request.
  streambuf->consume(streambuf->size());
  if (content.getloc() != std::locale()) content.imbue(std::locale());
  content.clear();
  content.exceptions(std::ios_base::goodbit);
  content.flags(std::ios_base::skipws | std::ios_base::dec);
  content.width(0);
  content.precision(6);
  method.clear();
  path.clear();
  query.clear();
  version.clear();
  header.clear();
  path_groups = std::smatch();
  header_time = std::chrono::system_clock::time_point();
  over_budget = false;
  budget_share.settle(streambuf->capacity());
  return true;
}

void ServerBase::Request::drop_buffer(std::size_t max_request_buffer) {
  auto fresh = std::make_unique<boost::asio::streambuf>(max_request_buffer);
  content.rebind(*fresh);
  streambuf = std::move(fresh);
  budget_share.settle(0);
}

}  // namespace HttpCore
