#include "http/server_base.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/system/system_error.hpp>

#include "http/connection.hpp"
#include "http/head_matcher.hpp"
#include "http/parse.hpp"
#include "http/request.hpp"
#include "http/response.hpp"
#include "http/session.hpp"

namespace HttpCore {

namespace {

using boost::asio::ip::tcp;
using boost::system::error_code;

[[noreturn]] void raise(const error_code& ec, const char* step) {
  throw boost::system::system_error(ec, step);
}

error_code generic_error(boost::system::errc::errc_t code) {
  return boost::system::errc::make_error_code(code);
}

// Filled up: read_until gives up with not_found, an exact read stops short.
bool buffer_full(const error_code& ec, const boost::asio::streambuf& buffer) {
  return (!ec || ec == boost::asio::error::not_found) && buffer.size() == buffer.max_size();
}

// A request carries a handful of fields, and names of other lengths are
// passed over at once, so walking them finds one sooner than hashing the
// name. The walk follows the map's iteration order, in which fields of one
// name stand together, so the first field found is the one find() gives.
constexpr std::size_t kFieldsWalked = 16;

HeaderMap::const_iterator find_field(const HeaderMap& header, const std::string& name) {
  if (header.size() > kFieldsWalked) return header.find(name);
  for (auto field = header.begin(); field != header.end(); ++field)
    if (case_insensitive_equals(field->first, name)) return field;
  return header.end();
}

// A reply object whose write has ended (or that a stopping loop drops):
// kept by its connection for the next reply, or deleted. Only on the loop's
// thread, where the connection's next reply takes it again, and never once
// the server is stopping, whose objects may be gone.
void park_response(ServerBase::Response* done) {
  std::unique_ptr<ServerBase::Response> response(done);
  if (!response->session) return;
  std::shared_ptr<ServerBase::Connection> connection = response->session->connection;
  if (!connection || connection->spare_response || connection->handler_gate->stopped() ||
      !connection->socket)
    return;
  const auto executor = connection->socket->get_executor();
  const auto* loop = executor.target<boost::asio::io_context::executor_type>();
  if (!loop || !loop->running_in_this_thread()) return;
  if (response->reset_for(nullptr, 0)) connection->spare_response = std::move(response);
}

// Charges what the request's buffers hold, the chunk buffer included, and
// `growth` bytes more that a read is about to add.
bool settle_buffers(ServerBase::Request& request, const boost::asio::streambuf* chunk_buffer,
                    std::size_t growth = 0) {
  std::size_t held = request.streambuf->capacity() + (chunk_buffer ? chunk_buffer->capacity() : 0);
  held = growth > std::numeric_limits<std::size_t>::max() - held ? std::numeric_limits<std::size_t>::max()
                                                                  : held + growth;
  return request.budget_share.settle(held);
}

const std::string kContentLength = "Content-Length";
const std::string kTransferEncoding = "Transfer-Encoding";
const std::string kUpgrade = "Upgrade";
const std::string kConnection = "Connection";

}  // namespace

ServerBase::ServerBase(std::uint16_t port)
    : settings(port),
      live_connections(std::make_shared<std::unordered_set<Connection*>>()),
      live_connections_mutex(std::make_shared<std::mutex>()),
      handler_gate(std::make_shared<HandlerGate>()) {}

ServerBase::~ServerBase() {
  handler_gate->stop();
  stop();
}

std::uint16_t ServerBase::bind_listener() {
  tcp::endpoint endpoint;
  if (settings.bind_address.empty())
    endpoint = tcp::endpoint(tcp::v4(), settings.port);
  else
    endpoint = tcp::endpoint(boost::asio::ip::make_address(settings.bind_address), settings.port);

  if (!event_loop) {
    // One loop thread needs no locking inside the scheduler.
    event_loop = settings.worker_threads <= 1 ? std::make_shared<boost::asio::io_context>(1)
                                              : std::make_shared<boost::asio::io_context>();
    owns_event_loop = true;
  }
  if (!acceptor) acceptor = std::make_unique<tcp::acceptor>(*event_loop);

  error_code ec;
  acceptor->open(endpoint.protocol(), ec);
  if (ec) raise(ec, "open");
  acceptor->set_option(boost::asio::socket_base::reuse_address(settings.allow_address_reuse), ec);
  if (ec) raise(ec, "set_option");
  acceptor->bind(endpoint, ec);
  if (ec) raise(ec, "bind");
  on_bound();
  const tcp::endpoint local = acceptor->local_endpoint(ec);
  if (ec) raise(ec, "local_endpoint");
  return local.port();
}

void ServerBase::listen_and_run() {
  error_code ec;
  if (!acceptor) raise(boost::asio::error::bad_descriptor, "listen");
  acceptor->listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) raise(ec, "listen");

  accept_next();

  if (!owns_event_loop) return;
  if (event_loop->stopped()) event_loop->restart();
  threads.clear();
  auto run = [loop = event_loop] {
    // A handler that throws must not end serving for everyone else.
    for (;;) {
      try {
        loop->run();
        return;
      } catch (...) {
      }
    }
  };
  for (std::size_t i = 1; i < settings.worker_threads; ++i) threads.emplace_back(run);
  if (settings.worker_threads > 0) run();
  for (auto& thread : threads) thread.join();
}

void ServerBase::start() {
  bind_listener();
  listen_and_run();
}

void ServerBase::stop() {
  if (acceptor) {
    error_code ignored;
    acceptor->close(ignored);
  }
  if (accept_retry_timer) {
    try {
      accept_retry_timer->cancel();
    } catch (...) {
    }
  }
  {
    std::lock_guard<std::mutex> lock(*live_connections_mutex);
    for (Connection* connection : *live_connections) connection->close();
    live_connections->clear();
  }
  if (owns_event_loop && event_loop) event_loop->stop();
}

std::shared_ptr<ServerBase::Connection> ServerBase::make_connection(boost::asio::io_context& loop) {
  auto connections = live_connections;
  auto mutex = live_connections_mutex;
  std::shared_ptr<Connection> connection(new Connection(handler_gate, loop),
                                         [connections, mutex](Connection* raw) {
                                           {
                                             std::lock_guard<std::mutex> lock(*mutex);
                                             connections->erase(raw);
                                           }
                                           delete raw;
                                         });
  std::lock_guard<std::mutex> lock(*live_connections_mutex);
  live_connections->insert(connection.get());
  return connection;
}

std::size_t ServerBase::live_connection_count() const {
  std::lock_guard<std::mutex> lock(*live_connections_mutex);
  return live_connections->size();
}

std::size_t ServerBase::buffered_request_bytes() const {
  return request_budget ? request_budget->used() : 0;
}

void ServerBase::report(const std::shared_ptr<Request>& request, const error_code& ec) {
  if (error_hook) error_hook(request, ec);
}

void ServerBase::accept_later() {
  if (!accept_retry_timer) accept_retry_timer = std::make_unique<boost::asio::steady_timer>(*event_loop);
  accept_retry_timer->expires_after(std::chrono::milliseconds(settings.accept_retry_delay_ms));
  auto gate = handler_gate;
  accept_retry_timer->async_wait([this, gate](const error_code& ec) {
    auto pass = gate->enter();
    if (!pass || ec) return;
    if (acceptor && acceptor->is_open()) accept_next();
  });
}

void ServerBase::reject_request(const std::shared_ptr<Session>& session, int status) {
  // What the request buffered is of no more use; its budget is free at once,
  // not only once the peer has read the reply.
  session->request->drop_buffer(settings.max_request_buffer);
  // A plain shared pointer: the reply is sent once, then the connection closes.
  auto response = std::make_shared<Response>(session, settings.content_timeout_s);
  response->write_status(status);
  response->send();
  report(session->request, generic_error(boost::system::errc::message_size));
}

void ServerBase::read_request(const std::shared_ptr<Session>& session) {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  Request& request = *session->request;
  if (!request_budget) request_budget = std::make_shared<RequestBudget>(settings.max_buffered_requests);
  if (request.budget_share.budget() != request_budget) request.budget_share.set_budget(request_budget);
  connection.arm_timeout(settings.request_timeout_s);
  boost::asio::async_read_until(
      *connection.socket, *request.streambuf,
      HeadMatcher(*request.streambuf, settings.max_head_size, request.budget_share, request.over_budget),
      [this, session](const error_code& ec, std::size_t head_bytes) {
        Connection& connection = *session->connection;
        connection.disarm_timeout();
        auto pass = connection.handler_gate->enter();
        if (!pass) return;

        Request& request = *session->request;
        boost::asio::streambuf& buffer = *request.streambuf;
        request.header_time = std::chrono::system_clock::now();

        if (buffer_full(ec, buffer) || request.over_budget) return reject_request(session, 413);
        if (ec) return report(session->request, ec);
        if (!head_complete(buffer, head_bytes, settings.max_head_size))
          return reject_request(session, 431);

        // Body bytes that arrived together with the head.
        const std::size_t body_buffered = buffer.size() - head_bytes;

        if (!parse_request_head(request.content, request.method, request.path, request.query,
                                request.version, request.header, settings.max_header_fields))
          return report(session->request, generic_error(boost::system::errc::protocol_error));
        if (request.header.size() > settings.max_header_fields) return reject_request(session, 431);

        auto length_field = find_field(request.header, kContentLength);
        if (length_field != request.header.end()) {
          unsigned long long length = 0;
          if (!parse_content_length(length_field->second, length))
            return report(session->request, generic_error(boost::system::errc::protocol_error));
          if (length <= body_buffered) return find_handler(session);

          // A body that can never fit in the request buffer, or that the
          // budget cannot take now, is refused before any more of it is read.
          const unsigned long long missing = length - body_buffered;
          if (missing >= buffer.max_size() - buffer.size()) return reject_request(session, 413);
          const std::size_t to_read = static_cast<std::size_t>(missing);
          if (!settle_buffers(request, nullptr, to_read)) return reject_request(session, 413);
          // Room for the whole body at once: the buffer then holds what was
          // charged, not up to twice that after growing step by step.
          buffer.prepare(to_read);
          if (!settle_buffers(request, nullptr)) return reject_request(session, 413);
          connection.arm_timeout(settings.content_timeout_s);
          boost::asio::async_read(
              *connection.socket, buffer, boost::asio::transfer_exactly(to_read),
              [this, session](const error_code& ec, std::size_t) {
                Connection& connection = *session->connection;
                connection.disarm_timeout();
                auto pass = connection.handler_gate->enter();
                if (!pass) return;
                if (ec) return report(session->request, ec);
                if (buffer_full(ec, *session->request->streambuf)) return reject_request(session, 413);
                find_handler(session);
              });
          return;
        }

        auto coding_field = find_field(request.header, kTransferEncoding);
        if (coding_field != request.header.end() && coding_field->second == "chunked") {
          read_chunk(session, std::make_shared<boost::asio::streambuf>(settings.max_request_buffer));
          return;
        }
        find_handler(session);
      });
}

void ServerBase::read_chunk(const std::shared_ptr<Session>& session,
                            const std::shared_ptr<boost::asio::streambuf>& chunk_buffer) {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  Request& request = *session->request;
  if (!settle_buffers(request, chunk_buffer.get())) return reject_request(session, 413);
  connection.arm_timeout(settings.content_timeout_s);
  boost::asio::async_read_until(
      *connection.socket, *request.streambuf, LineMatcher(*request.streambuf, *chunk_buffer, request.budget_share, request.over_budget),
      [this, session, chunk_buffer](const error_code& ec, std::size_t) {
        Connection& connection = *session->connection;
        connection.disarm_timeout();
        auto pass = connection.handler_gate->enter();
        if (!pass) return;

        Request& request = *session->request;
        boost::asio::streambuf& buffer = *request.streambuf;
        if (buffer_full(ec, buffer) || request.over_budget) return reject_request(session, 413);
        if (ec) return report(session->request, ec);

        // The size line runs up to the first LF; its last character is the CR.
        const char* data = static_cast<const char*>(buffer.data().data());
        const void* lf = std::memchr(data, '\n', buffer.size());
        if (!lf) return report(session->request, generic_error(boost::system::errc::protocol_error));
        std::string line(data, static_cast<const char*>(lf));
        buffer.consume(line.size() + 1);
        if (!line.empty()) line.pop_back();

        unsigned long length = 0;
        if (!parse_chunk_size(line, length))
          return report(session->request, generic_error(boost::system::errc::protocol_error));
        // A chunk that cannot fit in the chunk buffer would overflow it.
        if (length > chunk_buffer->max_size() - chunk_buffer->size()) return reject_request(session, 413);

        const std::size_t needed = static_cast<std::size_t>(length) + 2;  // data, then CR LF
        if (needed <= buffer.size()) return consume_chunk(session, chunk_buffer, length);
        // The data lands in the request buffer, then moves to the chunk buffer.
        if (!settle_buffers(request, chunk_buffer.get(), needed - buffer.size() + length))
          return reject_request(session, 413);

        connection.arm_timeout(settings.content_timeout_s);
        boost::asio::async_read(
            *connection.socket, buffer, boost::asio::transfer_exactly(needed - buffer.size()),
            [this, session, chunk_buffer, length](const error_code& ec, std::size_t) {
              Connection& connection = *session->connection;
              connection.disarm_timeout();
              auto pass = connection.handler_gate->enter();
              if (!pass) return;
              if (ec) return report(session->request, ec);
              if (buffer_full(ec, *session->request->streambuf) ||
                  !settle_buffers(*session->request, chunk_buffer.get()))
                return reject_request(session, 413);
              consume_chunk(session, chunk_buffer, length);
            });
      });
}

void ServerBase::consume_chunk(const std::shared_ptr<Session>& session,
                               const std::shared_ptr<boost::asio::streambuf>& chunk_buffer,
                               unsigned long length) {
  boost::asio::streambuf& buffer = *session->request->streambuf;
  if (length > 0) {
    const std::size_t n = std::min<std::size_t>(length, buffer.size());
    if (n > chunk_buffer->max_size() - chunk_buffer->size()) return reject_request(session, 413);
    if (!settle_buffers(*session->request, chunk_buffer.get(), n)) return reject_request(session, 413);
    auto target = chunk_buffer->prepare(n);
    std::memcpy(target.data(), buffer.data().data(), n);
    chunk_buffer->commit(n);
    buffer.consume(n);
    if (chunk_buffer->size() == chunk_buffer->max_size() || !settle_buffers(*session->request, chunk_buffer.get()))
      return reject_request(session, 413);
  }
  buffer.consume(2);  // CR LF after the chunk data
  if (length > 0) return read_chunk(session, chunk_buffer);

  // Last chunk: the decoded body goes into the request's buffer, ahead of any
  // bytes that followed it, so that `content` yields the body first.
  const std::size_t rest = buffer.size();
  if (chunk_buffer->size() > buffer.max_size() - rest) return reject_request(session, 413);
  if (!settle_buffers(*session->request, chunk_buffer.get(), chunk_buffer->size() + 2 * rest))
    return reject_request(session, 413);
  std::string following(static_cast<const char*>(buffer.data().data()), rest);
  buffer.consume(rest);
  const std::size_t body = chunk_buffer->size();
  auto target = buffer.prepare(body + rest);
  char* out = static_cast<char*>(target.data());
  if (body) std::memcpy(out, chunk_buffer->data().data(), body);
  if (rest) std::memcpy(out + body, following.data(), rest);
  buffer.commit(body + rest);
  chunk_buffer->consume(body);
  // The chunk buffer's room is still held until the request ends.
  if (!settle_buffers(*session->request, chunk_buffer.get())) return reject_request(session, 413);
  find_handler(session);
}

void ServerBase::find_handler(const std::shared_ptr<Session>& session) {
  Request& request = *session->request;
  if (upgrade_hook && find_field(request.header, kUpgrade) != request.header.end()) {
    {
      std::lock_guard<std::mutex> lock(*live_connections_mutex);
      live_connections->erase(session->connection.get());
    }
    upgrade_hook(session->connection->socket, session->request);
    return;
  }
  for (auto& route : routes) {
    auto entry = route.second.find(request.method);
    if (entry == route.second.end()) continue;
    std::smatch groups;
    if (std::regex_match(request.path, groups, route.first.regex())) {
      request.path_groups = std::move(groups);
      return serve(session, entry->second);
    }
  }
  auto entry = default_handlers.find(request.method);
  if (entry != default_handlers.end()) serve(session, entry->second);
  // No handler: no reply; the connection closes with its last reference.
}

void ServerBase::after_reply(const Response& response, const error_code& ec) {
  const std::shared_ptr<Session>& finished = response.session;
  if (ec) return report(finished->request, ec);
  if (response.close_after) return;
  const Request& request = *finished->request;
  bool keep = request.version >= "1.1";
  auto fields = request.header.size() > kFieldsWalked ? request.header.equal_range(kConnection)
                                                      : std::make_pair(request.header.begin(), request.header.end());
  for (auto field = fields.first; field != fields.second; ++field) {
    if (!case_insensitive_equals(field->first, kConnection)) continue;
    if (case_insensitive_equals(field->second, "close")) {
      keep = false;
      break;
    }
    if (case_insensitive_equals(field->second, "keep-alive")) {
      keep = true;
      break;
    }
  }
  if (!keep) return;
  // When nothing but this reply still holds the finished session and its
  // request, nobody can see them change: they serve the next request, with
  // their buffers, instead of new ones.
  if (finished.use_count() == 1 && finished->request.use_count() == 1 &&
      finished->request->reset_for_next(settings.max_request_buffer))
    return read_request(finished);
  read_request(std::make_shared<Session>(settings.max_request_buffer, finished->connection));
}

void ServerBase::serve(const std::shared_ptr<Session>& session, const Handler& handler) {
  Connection& connection = *session->connection;
  connection.arm_timeout(settings.content_timeout_s);

  Response* raw = connection.spare_response.release();
  if (raw) {
    raw->session = session;
    raw->content_timeout_s = settings.content_timeout_s;
  } else {
    raw = new Response(session, settings.content_timeout_s);
  }

  // The reply leaves when the last owner lets go; then the request decides
  // whether the connection reads another request.
  std::shared_ptr<Response> response(raw, [this](Response* raw) {
    if (raw->session->connection->handler_gate->stopped()) {
      delete raw;
      return;
    }
    // The pending write holds the response until the callback has run;
    // then the connection keeps it for its next reply.
    std::shared_ptr<Response> owned(raw, park_response);
    owned->send([this, raw](const error_code& ec) { after_reply(*raw, ec); });
  });

  try {
    handler(response, session->request);
  } catch (...) {
    // Whatever the handler buffered is still sent.
    report(session->request, generic_error(boost::system::errc::operation_canceled));
  }
}

}  // namespace HttpCore
