#include "http/response.hpp"

#include <charconv>
#include <cstring>
#include <ios>
#include <locale>

#include <boost/asio/post.hpp>
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

std::size_t ServerBase::Response::size() const noexcept {
  return streambuf->size() + static_cast<std::size_t>(body_bytes_);
}

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
  bodies_.push_back(Body{streambuf->size(), std::move(body), nullptr});
  body.clear();
}

void ServerBase::Response::append_source(std::unique_ptr<BodySource> source) {
  if (!source || source->size() == 0) return;
  body_bytes_ += source->size();
  has_source_ = true;
  bodies_.push_back(Body{streambuf->size(), std::string(), std::move(source)});
}

void ServerBase::Response::drop_sent() {
  streambuf->consume(streambuf->size());
  // Sources end here: their files and memory go with the reply.
  bodies_.clear();
  body_bytes_ = 0;
  gather_.clear();
  has_source_ = false;
  next_part_ = 0;
  text_sent_ = 0;
  source_given_ = 0;
  writing_source_ = false;
}

void ServerBase::Response::send(WriteCallback callback) {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  if (has_source_) {
    step_callback_ = std::move(callback);
    next_part_ = 0;
    text_sent_ = 0;
    source_given_ = 0;
    write_next();
    return;
  }
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
  // Stream text and handed-over bodies in the order they were written;
  // without sources that is all of the reply.
  std::size_t part = 0;
  std::size_t text_sent = 0;
  gather_until_source(part, text_sent);
  boost::asio::async_write(*connection.socket, GatherView{gather_.data(), gather_.data() + gather_.size()},
                           std::move(on_written));
}

void ServerBase::Response::gather_until_source(std::size_t& part, std::size_t& text_sent) {
  const char* text = static_cast<const char*>(streambuf->data().data());
  gather_.clear();
  for (;;) {
    const std::size_t text_until =
        part < bodies_.size() ? bodies_[part].after_stream_bytes : streambuf->size();
    if (text_until > text_sent) gather_.emplace_back(text + text_sent, text_until - text_sent);
    text_sent = text_until;
    if (part == bodies_.size() || bodies_[part].source) break;
    gather_.emplace_back(bodies_[part].bytes.data(), bodies_[part].bytes.size());
    ++part;
  }
}

void ServerBase::Response::write_next() {
  Connection& connection = *session->connection;
  if (!connection.socket) return;
  // Each step has the whole time-out: a reply of many pieces to a reader
  // that keeps taking them is not cut off for being long.
  connection.arm_timeout(content_timeout_s);
  auto self = shared_from_this();
  auto on_written = [self](const boost::system::error_code& ec, std::size_t bytes) {
    self->on_step_written(ec, bytes);
  };

  // Stream text and handed-over bodies up to the next source leave together.
  gather_until_source(next_part_, text_sent_);
  if (!gather_.empty()) {
    writing_source_ = false;
    boost::asio::async_write(*connection.socket, GatherView{gather_.data(), gather_.data() + gather_.size()},
                             std::move(on_written));
    return;
  }
  if (next_part_ == bodies_.size()) return finish(boost::system::error_code());

  BodySource& source = *bodies_[next_part_].source;
  boost::system::error_code ec;
  const boost::asio::const_buffer piece = source.next(ec);
  if (!ec && (piece.size() == 0 || piece.size() > source.size() - source_given_))
    ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
  if (ec) return fail_source(ec);
  writing_source_ = true;
  boost::asio::async_write(*connection.socket, piece, std::move(on_written));
}

void ServerBase::Response::on_step_written(const boost::system::error_code& ec, std::size_t bytes) {
  if (ec) return finish(ec);
  if (writing_source_) {
    source_given_ += bytes;
    if (source_given_ == bodies_[next_part_].source->size()) {
      // Done with it: its files and buffers need not wait for the reply's end.
      bodies_[next_part_].source.reset();
      ++next_part_;
      source_given_ = 0;
    }
  }
  auto pass = session->connection->handler_gate->enter();
  if (!pass) return;
  write_next();
}

void ServerBase::Response::fail_source(const boost::system::error_code& ec) {
  // Part of the reply may be out already: only a closed connection tells the
  // peer that the rest will not come.
  session->connection->close();
  auto self = shared_from_this();
  boost::asio::post(session->connection->socket->get_executor(), [self, ec] { self->finish(ec); });
}

void ServerBase::Response::finish(const boost::system::error_code& ec) {
  WriteCallback callback = std::move(step_callback_);
  step_callback_ = nullptr;
  drop_sent();
  Connection& connection = *session->connection;
  connection.disarm_timeout();
  auto pass = connection.handler_gate->enter();
  if (!pass) return;
  if (callback) callback(ec);
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
