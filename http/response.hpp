#pragma once
// The reply stream. A handler writes the status line, header fields and body
// into it; nothing is sent while it runs. The whole reply leaves in one write
// when the last owner lets go of the Response.

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <boost/asio/streambuf.hpp>

#include "http/header_map.hpp"
#include "http/server_base.hpp"

namespace HttpCore {

class ServerBase::Response : public std::enable_shared_from_this<ServerBase::Response>,
                             public std::ostream {
 public:
  Response(std::shared_ptr<Session> session, long content_timeout_s);
  Response(const Response&) = delete;
  Response& operator=(const Response&) = delete;

  // Bytes buffered and not yet sent, handed-over bodies included.
  std::size_t size() const noexcept;

  // "HTTP/1.1 <phrase>" CR LF, then the fields and an empty body.
  void write_status(int code, const HeaderMap& header = HeaderMap());
  // Status line, the fields with the body's length, then the body.
  void write_status(int code, const std::string& body, const HeaderMap& header = HeaderMap());
  // The fields, then Content-Length `size` unless the fields carry a length,
  // a chunked coding, or close_after is set; then the empty line.
  void write_headers(const HeaderMap& header, std::size_t size);

  // Takes a (large) body without copying it: its bytes follow what has been
  // written so far, and go out in the same write as the rest of the reply.
  // Text written afterwards follows it.
  void append_body(std::string&& body);

  // Writes what is buffered; the callback learns how the write ended.
  void send(WriteCallback callback = nullptr);

  // Ready to answer another request of the same connection, as if new;
  // false when the handler changed the stream in a way that cannot be undone.
  bool reset_for(std::shared_ptr<Session> next_session, long content_timeout_s);

  std::unique_ptr<boost::asio::streambuf> streambuf;
  std::shared_ptr<Session> session;
  long content_timeout_s;
  // Set: the connection is not reused after this reply, and write_headers
  // adds no Content-Length.
  bool close_after = false;

 private:
  // A handed-over body and how many stream bytes precede it.
  struct Body {
    std::size_t after_stream_bytes;
    std::string bytes;
  };

  // Status line (when `phrase` is given), fields, length and body (when
  // given), in one piece of the buffer.
  void write_head(const std::string* phrase, const HeaderMap& header, std::size_t size,
                  const std::string* body);
  void drop_sent();

  std::vector<Body> bodies_;
  std::size_t body_bytes_ = 0;
  std::vector<boost::asio::const_buffer> gather_;
};

}  // namespace HttpCore
