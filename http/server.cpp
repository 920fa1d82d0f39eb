#include "http/server.hpp"

#include <boost/asio/error.hpp>

namespace HttpCore {

namespace {

// Errors of one pending connection: the next accept may well succeed at once.
// Anything else (descriptors or memory exhausted, a broken listener) would
// fail again immediately, so accepting pauses first.
bool retry_at_once(const boost::system::error_code& ec) {
  if (ec.category() != boost::system::system_category()) return false;
  switch (ec.value()) {
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case EINTR:
    case EAGAIN:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

}  // namespace

Server::~Server() {
  // Before this class is gone: no handler may call accept_next any more.
  handler_gate->stop();
  stop();
}

void Server::accept_next() {
  auto connection = make_connection(*event_loop);
  acceptor->async_accept(*connection->socket, [this, connection](const boost::system::error_code& ec) {
    auto pass = connection->handler_gate->enter();
    if (!pass) return;
    if (ec != boost::asio::error::operation_aborted) {
      if (!ec || retry_at_once(ec))
        accept_next();
      else
        accept_later();
    }
    auto session = std::make_shared<Session>(settings.max_request_buffer, connection);
    if (!ec) {
      boost::system::error_code ignored;
      connection->socket->set_option(boost::asio::ip::tcp::no_delay(true), ignored);
      read_request(session);
    } else {
      report(session->request, ec);
    }
  });
}

}  // namespace HttpCore
