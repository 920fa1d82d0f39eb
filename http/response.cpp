#include "http/response.hpp"

#include <boost/asio/write.hpp>

#include "http/connection.hpp"
#include "http/session.hpp"
#include "http/status_phrase.hpp"

namespace HttpCore {

namespace {
constexpr std::size_t kInitialReplyRoom = 512;
}  // namespace

ServerBase::Response::Response(std::shared_ptr<Session> session_, long content_timeout_s_)
    : std::ostream(nullptr),
      streambuf(std::make_unique<boost::asio::streambuf>()),
      session(std::move(session_)),
      content_timeout_s(content_timeout_s_) {
  rdbuf(streambuf.get());
  // Room for a typical reply, so that it is not regrown piece by piece.
  streambuf->prepare(kInitialReplyRoom);
}

std::size_t ServerBase::Response::size() const noexcept { return streambuf->size(); }

void ServerBase::Response::write_status(int code, const HeaderMap& header) {
  *this << "HTTP/1.1 " << status_phrase(code) << "\r\n";
  write_headers(header, 0);
}

void ServerBase::Response::write_status(int code, const std::string& body, const HeaderMap& header) {
  *this << "HTTP/1.1 " << status_phrase(code) << "\r\n";
  write_headers(header, body.size());
  if (!body.empty()) *this << body;
}

void ServerBase::Response::write_headers(const HeaderMap& header, std::size_t size) {
  bool has_length = false;
  bool chunked = false;
  for (const auto& field : header) {
    if (!has_length && case_insensitive_equals(field.first, "content-length")) has_length = true;
    if (!chunked && case_insensitive_equals(field.first, "transfer-encoding") &&
        case_insensitive_equals(field.second, "chunked"))
      chunked = true;
    *this << field.first << ": " << field.second << "\r\n";
  }
  if (has_length || chunked)
    *this << "\r\n";
  else if (!close_after)
    *this << "Content-Length: " << size << "\r\n\r\n";
  else
    *this << "\r\n";
}

void ServerBase::Response::send(WriteCallback callback) {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  connection.arm_timeout(content_timeout_s);
  auto self = shared_from_this();
  // The dynamic-buffer write removes the written bytes from the buffer.
  boost::asio::async_write(*connection.socket, *streambuf,
                           [self, callback = std::move(callback)](const boost::system::error_code& ec,
                                                                  std::size_t) {
                             Connection& connection = *self->session->connection;
                             connection.disarm_timeout();
                             auto pass = connection.handler_gate->enter();
                             if (!pass) return;
                             if (callback) callback(ec);
                           });
}

}  // namespace HttpCore
