#include "http/request.hpp"

#include "http/parse.hpp"

namespace HttpCore {

ServerBase::Content::Content(boost::asio::streambuf& buffer) : std::istream(&buffer), buffer_(buffer) {}

std::size_t ServerBase::Content::size() const noexcept { return buffer_.size(); }

std::string ServerBase::Content::text() {
  const auto data = buffer_.data();
  std::string all(static_cast<const char*>(data.data()), data.size());
  buffer_.consume(all.size());
  return all;
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

}  // namespace HttpCore
