#include "http/connection.hpp"

#include <algorithm>
#include <ctime>

#include "http/response.hpp"

namespace HttpCore {

namespace {

// A wait never runs longer than this; a deadline further away is reached by
// waiting again. So a deadline armed later than the pending wait's end never
// needs the wait moved, for any time-out of at least this length.
constexpr std::chrono::seconds kLongestWait{5};

// Arming happens several times per request and needs no more than
// millisecond precision, so the kernel's coarse monotonic clock does; it
// counts from the same origin as steady_clock and lags it by a tick at most.
std::chrono::steady_clock::time_point arming_now() {
#if defined(CLOCK_MONOTONIC_COARSE)
  timespec now{};
  if (::clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0)
    return std::chrono::steady_clock::time_point(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec)));
#endif
  return std::chrono::steady_clock::now();
}

}  // namespace

ServerBase::Connection::Connection(std::shared_ptr<HandlerGate> gate, boost::asio::io_context& loop)
    : handler_gate(std::move(gate)), socket(std::make_unique<boost::asio::ip::tcp::socket>(loop)) {}

ServerBase::Connection::~Connection() = default;

void ServerBase::Connection::arm_timeout(long seconds) {
  if (seconds == 0) {
    timer.reset();
    armed_ = waiting_ = false;
    return;
  }
  if (!socket) return;
  const auto now = arming_now();
  deadline_ = now + std::chrono::seconds(seconds);
  armed_ = true;
  if (!timer) timer = std::make_unique<boost::asio::steady_timer>(socket->get_executor());
  if (waiting_ && timer->expiry() <= deadline_) return;
  wait_until_deadline(now);
}

void ServerBase::Connection::wait_until_deadline(std::chrono::steady_clock::time_point now) {
  // Setting the expiry cancels a pending wait; its handler then sees an error.
  timer->expires_at(std::min(deadline_, now + kLongestWait));
  waiting_ = true;
  // Weak: the wait must not keep an otherwise finished connection open.
  std::weak_ptr<Connection> weak = shared_from_this();
  timer->async_wait([weak](const boost::system::error_code& ec) {
    if (ec) return;
    if (auto self = weak.lock()) self->on_wait_ended();
  });
}

void ServerBase::Connection::on_wait_ended() {
  waiting_ = false;
  if (!armed_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < deadline_) return wait_until_deadline(now);
  armed_ = false;
  close();
}

void ServerBase::Connection::disarm_timeout() { armed_ = false; }

void ServerBase::Connection::close() {
  std::lock_guard<std::mutex> lock(close_mutex);
  if (!socket) return;
  boost::system::error_code ignored;
  socket->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  socket->close(ignored);
}

}  // namespace HttpCore
