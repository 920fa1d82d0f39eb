#include "http/session.hpp"

#include "http/connection.hpp"
#include "http/request.hpp"

namespace HttpCore {

ServerBase::Session::Session(std::size_t max_request_buffer, std::shared_ptr<Connection> connection_)
    : connection(std::move(connection_)) {
  if (!connection->remote_endpoint) {
    boost::system::error_code ec;
    boost::asio::ip::tcp::endpoint peer;
    if (connection->socket) peer = connection->socket->remote_endpoint(ec);
    // A failed query leaves 0.0.0.0 port 0.
    connection->remote_endpoint = std::make_shared<boost::asio::ip::tcp::endpoint>(
        ec ? boost::asio::ip::tcp::endpoint() : peer);
  }
  request = std::make_shared<Request>(max_request_buffer, connection->remote_endpoint);
}

}  // namespace HttpCore
