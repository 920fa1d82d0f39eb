#include "http/response.hpp"

#include <charconv>
#include <cstring>
#include <ios>
#include <locale>

#include <boost/asio/write.hpp>

#include "http/connection.hpp"
#include "http/session.hpp"
#include "http/status_phrase.hpp"

namespace HttpCore {

namespace {

constexpr std::size_t kInitialReplyRoom = 512;

// The buffers of one gather write, read where the Response keeps them, so
// that starting the write copies no list.
struct GatherView {
  using value_type = boost::asio::const_buffer;
  using const_iterator = const boost::asio::const_buffer*;
  const_iterator begin() const noexcept { return first; }
  const_iterator end() const noexcept { return last; }
  const_iterator first;
  const_iterator last;
};

template <std::size_t N>
constexpr std::size_t length_of(const char (&)[N]) {
  return N - 1;
}

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

std::size_t ServerBase::Response::size() const noexcept { return streambuf->size() + body_bytes_; }

// Heads go straight into the buffer: the formatting layer of the stream only
// costs time for text that needs no formatting. The stream writes into the
// same buffer, so the order of bytes is kept.
namespace {

// Fills room taken from the buffer once for a whole head.
class HeadWriter {
 public:
  explicit HeadWriter(char* out) : out_(out), start_(out) {}
  void put(const char* data, std::size_t size) {
    std::memcpy(out_, data, size);
    out_ += size;
  }
  void put(const std::string& text) { put(text.data(), text.size()); }
  template <std::size_t N>
  void put(const char (&text)[N]) {
    put(text, N - 1);
  }
  void put_number(std::size_t value) { out_ = std::to_chars(out_, out_ + 20, value).ptr; }
  std::size_t written() const { return static_cast<std::size_t>(out_ - start_); }

 private:
  char* out_;
  char* start_;
};

constexpr std::size_t kLengthFieldRoom = length_of("Content-Length: ") + 20 + length_of("\r\n\r\n");

}  // namespace

void ServerBase::Response::write_status(int code, const HeaderMap& header) {
  write_head(&status_phrase(code), header, 0, nullptr);
}

void ServerBase::Response::write_status(int code, const std::string& body, const HeaderMap& header) {
  write_head(&status_phrase(code), header, body.size(), &body);
}

void ServerBase::Response::write_headers(const HeaderMap& header, std::size_t size) {
  write_head(nullptr, header, size, nullptr);
}

void ServerBase::Response::write_head(const std::string* phrase, const HeaderMap& header,
                                      std::size_t size, const std::string* body) {
  std::size_t room = kLengthFieldRoom;
  if (phrase) room += length_of("HTTP/1.1 ") + phrase->size() + 2;
  for (const auto& field : header) room += field.first.size() + field.second.size() + 4;
  if (body) room += body->size();
  auto space = streambuf->prepare(room);
  HeadWriter out(static_cast<char*>(space.data()));

  if (phrase) {
    out.put("HTTP/1.1 ");
    out.put(*phrase);
    out.put("\r\n");
  }
  bool has_length = false;
  bool chunked = false;
  for (const auto& field : header) {
    if (!has_length && case_insensitive_equals(field.first, "content-length")) has_length = true;
    if (!chunked && case_insensitive_equals(field.first, "transfer-encoding") &&
        case_insensitive_equals(field.second, "chunked"))
      chunked = true;
    out.put(field.first);
    out.put(": ");
    out.put(field.second);
    out.put("\r\n");
  }
  if (has_length || chunked || close_after) {
    out.put("\r\n");
  } else {
    out.put("Content-Length: ");
    out.put_number(size);
    out.put("\r\n\r\n");
  }
  if (body) out.put(*body);
  streambuf->commit(out.written());
}

void ServerBase::Response::append_body(std::string&& body) {
  if (body.empty()) return;
  body_bytes_ += body.size();
  bodies_.push_back(Body{streambuf->size(), std::move(body)});
  body.clear();
}

void ServerBase::Response::drop_sent() {
  streambuf->consume(streambuf->size());
  bodies_.clear();
  body_bytes_ = 0;
  gather_.clear();
}

void ServerBase::Response::send(WriteCallback callback) {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  connection.arm_timeout(content_timeout_s);
  auto self = shared_from_this();
  auto on_written = [self, callback = std::move(callback)](const boost::system::error_code& ec,
                                                           std::size_t) {
    self->drop_sent();
    Connection& connection = *self->session->connection;
    connection.disarm_timeout();
    auto pass = connection.handler_gate->enter();
    if (!pass) return;
    if (callback) callback(ec);
  };
  if (bodies_.empty()) {
    boost::asio::async_write(*connection.socket, streambuf->data(), std::move(on_written));
    return;
  }
  // Stream text and handed-over bodies in the order they were written.
  const char* text = static_cast<const char*>(streambuf->data().data());
  std::size_t text_sent = 0;
  gather_.clear();
  for (const Body& body : bodies_) {
    if (body.after_stream_bytes > text_sent)
      gather_.emplace_back(text + text_sent, body.after_stream_bytes - text_sent);
    text_sent = body.after_stream_bytes;
    gather_.emplace_back(body.bytes.data(), body.bytes.size());
  }
  if (streambuf->size() > text_sent) gather_.emplace_back(text + text_sent, streambuf->size() - text_sent);
  boost::asio::async_write(*connection.socket, GatherView{gather_.data(), gather_.data() + gather_.size()},
                           std::move(on_written));
}

bool ServerBase::Response::reset_for(std::shared_ptr<Session> next_session, long content_timeout_s_) {
  // A buffer grown for a large reply is not kept for the connection's life.
  constexpr std::size_t kLargestKeptBuffer = 64 * 1024;
  if (rdbuf() != streambuf.get() || streambuf->capacity() > kLargestKeptBuffer) return false;
  if (getloc() != std::locale()) imbue(std::locale());
  clear();
  exceptions(std::ios_base::goodbit);
  flags(std::ios_base::skipws | std::ios_base::dec);
  width(0);
  precision(6);
  fill(' ');
  drop_sent();
  session = std::move(next_session);
  content_timeout_s = content_timeout_s_;
  close_after = false;
  return true;
}

}  // namespace HttpCore
