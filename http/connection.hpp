#pragma once
// One accepted socket with its time-out timer. Owned by shared pointers held
// by its sessions and pending operations; the server keeps a raw pointer.

#include <chrono>
#include <memory>
#include <mutex>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "http/handler_gate.hpp"
#include "http/server_base.hpp"

namespace HttpCore {

class ServerBase::Connection : public std::enable_shared_from_this<ServerBase::Connection> {
 public:
  Connection(std::shared_ptr<HandlerGate> gate, boost::asio::io_context& loop);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Closes the connection when `seconds` pass without disarm, counted from
  // now; 0 drops the timer.
  void arm_timeout(long seconds);
  void disarm_timeout();
  // Shuts the socket down and closes it; pending operations then fail.
  void close();

  std::shared_ptr<HandlerGate> handler_gate;
  std::unique_ptr<boost::asio::ip::tcp::socket> socket;
  std::mutex close_mutex;
  std::unique_ptr<boost::asio::steady_timer> timer;
  std::shared_ptr<boost::asio::ip::tcp::endpoint> remote_endpoint;
  // The last reply's object, kept so that the next request on this
  // connection needs no new one. It holds no session while kept here.
  std::unique_ptr<Response> spare_response;

 private:
  // Re-arming happens several times per request, so the deadline is kept
  // here and the timer's wait is only moved when it would end too late. A
  // wait that ends before the deadline simply waits again.
  void wait_until_deadline(std::chrono::steady_clock::time_point now);
  void on_wait_ended();

  std::chrono::steady_clock::time_point deadline_;
  bool armed_ = false;
  bool waiting_ = false;
};

}  // namespace HttpCore
