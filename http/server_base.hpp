#pragma once
// The server object: settings, handler tables, hooks, the listener and the
// registry of open connections. Socket-type specific parts live in Server.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/system/error_code.hpp>

#include "http/handler_gate.hpp"
#include "http/header_map.hpp"
#include "http/request_budget.hpp"
#include "http/route_pattern.hpp"
#include "http/settings.hpp"

namespace HttpCore {

class ServerBase {
 public:
  class Connection;
  class Session;
  class Request;
  class Content;
  class Response;

  using Handler = std::function<void(std::shared_ptr<Response>, std::shared_ptr<Request>)>;
  using ErrorHook = std::function<void(std::shared_ptr<Request>, const boost::system::error_code&)>;
  using UpgradeHook = std::function<void(std::unique_ptr<boost::asio::ip::tcp::socket>&,
                                         std::shared_ptr<Request>)>;
  using WriteCallback = std::function<void(const boost::system::error_code&)>;

  explicit ServerBase(std::uint16_t port);
  virtual ~ServerBase();
  ServerBase(const ServerBase&) = delete;
  ServerBase& operator=(const ServerBase&) = delete;

  // Binds the listener and returns the bound port (useful with port 0).
  // Throws boost::system::system_error naming the failed step.
  std::uint16_t bind_listener();
  // Listens, starts accepting and, when the server owns its event loop, runs
  // the loop on the calling thread until it ends.
  void listen_and_run();
  // bind_listener then listen_and_run; blocks while the loop runs.
  void start();
  // Closes the listener and every open connection; stops an owned loop.
  // Call it on the loop's thread, or when the loop does not run.
  void stop();

  // A new unconnected connection, already entered in live_connections.
  std::shared_ptr<Connection> make_connection(boost::asio::io_context& loop);

  // One request cycle on a connection.
  void read_request(const std::shared_ptr<Session>& session);
  void read_chunk(const std::shared_ptr<Session>& session,
                  const std::shared_ptr<boost::asio::streambuf>& chunk_buffer);
  void consume_chunk(const std::shared_ptr<Session>& session,
                     const std::shared_ptr<boost::asio::streambuf>& chunk_buffer,
                     unsigned long length);
  void find_handler(const std::shared_ptr<Session>& session);
  void serve(const std::shared_ptr<Session>& session, const Handler& handler);

  // Open connections right now (for tests and diagnostics).
  std::size_t live_connection_count() const;
  // Bytes the requests' buffers hold right now (for tests and diagnostics).
  std::size_t buffered_request_bytes() const;

  ServerSettings settings;
  std::map<RoutePattern, std::map<std::string, Handler>> routes;
  std::map<std::string, Handler> default_handlers;
  ErrorHook error_hook;
  UpgradeHook upgrade_hook;
  // A caller may supply the loop before binding; otherwise bind_listener creates it.
  std::shared_ptr<boost::asio::io_context> event_loop;

 protected:
  virtual void on_bound() {}
  virtual void accept_next() = 0;

  // Replies to a request that outgrew a limit and closes the connection.
  void reject_request(const std::shared_ptr<Session>& session, int status);
  void report(const std::shared_ptr<Request>& request, const boost::system::error_code& ec);
  // After a reply written by serve: keep the connection for another request, or let it close.
  void after_reply(const Response& response, const boost::system::error_code& ec);
  // Resumes accepting after a pause (descriptors or memory exhausted).
  void accept_later();

  bool owns_event_loop = false;
  std::unique_ptr<boost::asio::ip::tcp::acceptor> acceptor;
  std::vector<std::thread> threads;
  std::shared_ptr<std::unordered_set<Connection*>> live_connections;
  std::shared_ptr<std::mutex> live_connections_mutex;
  std::shared_ptr<HandlerGate> handler_gate;
  std::unique_ptr<boost::asio::steady_timer> accept_retry_timer;
  // Shared by every request read on this server; made from
  // settings.max_buffered_requests when the first request is read.
  std::shared_ptr<RequestBudget> request_budget;
};

}  // namespace HttpCore
