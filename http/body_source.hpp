#pragma once
// A reply body made while it is sent. The server asks the source for one
// piece at a time, and for the next only once the socket has taken the last,
// so a reply of any size needs no more memory than a piece, and a slow
// reader holds the source back instead of letting the reply pile up.

#include <cstdint>

#include <boost/asio/buffer.hpp>
#include <boost/system/error_code.hpp>

namespace HttpCore {

class BodySource {
 public:
  virtual ~BodySource() = default;

  // The bytes the source gives in all, fixed before sending starts: the
  // reply's Content-Length counts them.
  virtual std::uint64_t size() const = 0;

  // The next bytes: at least one while any of size() are left. They stay
  // valid until the next call or the source's end. A source that cannot give
  // what it promised (its data changed since size() was fixed) sets `ec`;
  // the server then closes the connection, so the peer sees a reply cut
  // short rather than a wrong one.
  virtual boost::asio::const_buffer next(boost::system::error_code& ec) = 0;
};

}  // namespace HttpCore
