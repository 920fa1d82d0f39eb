#pragma once
// Match condition for reading a request head: finds the CR LF CR LF that ends
// it, and gives up once the head has grown past its limit. The caller tells the
// two apart with head_complete().

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>

namespace HttpCore {

class HeadMatcher {
 public:
  HeadMatcher(const boost::asio::streambuf& buffer, std::size_t limit)
      : buffer_(&buffer), limit_(limit) {}

  template <typename Iterator>
  std::pair<Iterator, bool> operator()(Iterator begin, Iterator end) const {
    const std::size_t available = static_cast<std::size_t>(end - begin);
    if (available == 0) return {begin, buffer_->size() >= limit_};
    // A streambuf keeps its bytes in one block, so the search can run on it directly.
    const char* base = static_cast<const char*>(buffer_->data().data());
    const char* first = &*begin;
    const void* found = memmem(first, available, "\r\n\r\n", 4);
    if (found) {
      const char* head_end = static_cast<const char*>(found) + 4;
      if (static_cast<std::size_t>(head_end - base) <= limit_) return {begin + (head_end - first), true};
      return {end, true};
    }
    if (buffer_->size() >= limit_) return {end, true};
    // Keep the last three bytes: the delimiter may straddle the next read.
    return {begin + (available > 3 ? available - 3 : 0), false};
  }

 private:
  const boost::asio::streambuf* buffer_;
  std::size_t limit_;
};

// True when the first `bytes` of the buffer are a whole head within `limit`.
inline bool head_complete(const boost::asio::streambuf& buffer, std::size_t bytes, std::size_t limit) {
  if (bytes < 4 || bytes > limit || bytes > buffer.size()) return false;
  const char* data = static_cast<const char*>(buffer.data().data());
  return std::memcmp(data + bytes - 4, "\r\n\r\n", 4) == 0;
}

}  // namespace HttpCore

namespace boost {
namespace asio {
template <>
struct is_match_condition<HttpCore::HeadMatcher> : public std::true_type {};
}  // namespace asio
}  // namespace boost
