#include "http/connection.hpp"

#include <chrono>

namespace HttpCore {

ServerBase::Connection::Connection(std::shared_ptr<HandlerGate> gate, boost::asio::io_context& loop)
    : handler_gate(std::move(gate)), socket(std::make_unique<boost::asio::ip::tcp::socket>(loop)) {}

void ServerBase::Connection::arm_timeout(long seconds) {
  if (seconds == 0) {
    timer.reset();
    return;
  }
  if (!socket) return;
  // Re-arming an existing timer cancels its pending wait, as replacing it would.
  if (!timer) timer = std::make_unique<boost::asio::steady_timer>(socket->get_executor());
  timer->expires_after(std::chrono::seconds(seconds));
  auto self = shared_from_this();
  timer->async_wait([self](const boost::system::error_code& ec) {
    if (!ec) self->close();
  });
}

void ServerBase::Connection::disarm_timeout() {
  if (!timer) return;
  try {
    timer->cancel();
  } catch (...) {
    // A failed cancel leaves the wait to expire; nothing else to do.
  }
}

void ServerBase::Connection::close() {
  std::lock_guard<std::mutex> lock(close_mutex);
  if (!socket) return;
  boost::system::error_code ignored;
  socket->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  socket->close(ignored);
}

}  // namespace HttpCore
