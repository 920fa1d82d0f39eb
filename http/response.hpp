#pragma once
// The reply stream. A handler writes the status line, header fields and body
// into it; nothing is sent while it runs. The reply leaves when the last
// owner lets go of the Response: in one write, or, when it holds a body
// source, piece by piece as the socket takes it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <boost/asio/streambuf.hpp>

#include "http/body_source.hpp"
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

  // A body made while it is sent (see BodySource): its bytes follow what has
  // been written so far, text written afterwards follows them. size() counts
  // them from now on.
  void append_source(std::unique_ptr<BodySource> source);

  // Writes what is buffered; the callback learns how the write ended. A
  // source that fails closes the connection, and the callback gets its error.
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
  // A handed-over body, or a source, and how many stream bytes precede it.
  struct Body {
    std::size_t after_stream_bytes;
    std::string bytes;
    std::unique_ptr<BodySource> source;
  };

  // Status line (when `phrase` is given), fields, length and body (when
  // given), in one piece of the buffer.
  void write_head(const std::string* phrase, const HeaderMap& header, std::size_t size,
                  const std::string* body);
  void drop_sent();
  // Puts in gather_ the stream text and handed-over bodies from body `part`
  // and stream byte `text_sent` up to the next source or the end, moving both
  // past what it took.
  void gather_until_source(std::size_t& part, std::size_t& text_sent);
  // Sending with sources: one step at a time, each started when the last
  // has been written.
  void write_next();
  void on_step_written(const boost::system::error_code& ec, std::size_t bytes);
  void fail_source(const boost::system::error_code& ec);
  void finish(const boost::system::error_code& ec);

  std::vector<Body> bodies_;
  std::uint64_t body_bytes_ = 0;
  std::vector<boost::asio::const_buffer> gather_;
  bool has_source_ = false;
  // Progress of a reply sent in steps: the next part, the stream bytes sent
  // and how much the current source has given.
  std::size_t next_part_ = 0;
  std::size_t text_sent_ = 0;
  std::uint64_t source_given_ = 0;
  bool writing_source_ = false;
  WriteCallback step_callback_;
};

}  // namespace HttpCore
