#pragma once
// Match conditions for reading a request head (up to the CR LF CR LF that
// ends it; it gives up once the head has grown past its limit, which the
// caller tells apart with head_complete()) and a chunk-size line (up to its
// CR LF). Both charge the buffer's growth to the request's budget share and
// stop reading, setting the `over_budget` flag, when the budget cannot take it.

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>

#include "http/request_budget.hpp"

namespace HttpCore {

// Charges what the buffer holds, and what the request keeps in a second
// buffer (`also`, the chunked body read so far) when it has one; false (with
// the flag set) when the budget cannot take it.
class BufferCharge {
 public:
  BufferCharge(const boost::asio::streambuf& buffer, const boost::asio::streambuf* also, BudgetShare& share,
               bool& over_budget)
      : buffer_(&buffer), also_(also), share_(&share), over_budget_(&over_budget) {}
  bool operator()() const {
    if (share_->settle(buffer_->capacity() + (also_ ? also_->capacity() : 0))) return true;
    *over_budget_ = true;
    return false;
  }

 private:
  const boost::asio::streambuf* buffer_;
  const boost::asio::streambuf* also_;
  BudgetShare* share_;
  bool* over_budget_;
};

class HeadMatcher {
 public:
  HeadMatcher(const boost::asio::streambuf& buffer, std::size_t limit, BudgetShare& share, bool& over_budget)
      : buffer_(&buffer), limit_(limit), charge_(buffer, nullptr, share, over_budget) {}

  template <typename Iterator>
  std::pair<Iterator, bool> operator()(Iterator begin, Iterator end) const {
    if (!charge_()) return {end, true};
    const std::size_t available = static_cast<std::size_t>(end - begin);
    if (available == 0) return {begin, buffer_->size() >= limit_};
    // A streambuf keeps its bytes in one block, so the search can run on it directly.
    const char* base = static_cast<const char*>(buffer_->data().data());
    const char* first = &*begin;
    const char* found = find_blank_line(first, available);
    if (found) {
      const char* head_end = found + 4;
      if (static_cast<std::size_t>(head_end - base) <= limit_) return {begin + (head_end - first), true};
      return {end, true};
    }
    if (buffer_->size() >= limit_) return {end, true};
    // Keep the last three bytes: the delimiter may straddle the next read.
    return {begin + (available > 3 ? available - 3 : 0), false};
  }

 private:
  // The first CR LF CR LF. Heads hold few CRs, so stepping from one to the
  // next is quicker than a general substring search.
  static const char* find_blank_line(const char* data, std::size_t size) {
    const char* end = data + size;
    for (const char* cr = data; size >= 4 && cr <= end - 4;) {
      cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(end - 3 - cr)));
      if (!cr) return nullptr;
      if (std::memcmp(cr, "\r\n\r\n", 4) == 0) return cr;
      ++cr;
    }
    return nullptr;
  }

  const boost::asio::streambuf* buffer_;
  std::size_t limit_;
  BufferCharge charge_;
};

// The first CR LF, like reading until the delimiter "\r\n".
class LineMatcher {
 public:
  LineMatcher(const boost::asio::streambuf& buffer, const boost::asio::streambuf& chunks, BudgetShare& share,
              bool& over_budget)
      : charge_(buffer, &chunks, share, over_budget) {}

  template <typename Iterator>
  std::pair<Iterator, bool> operator()(Iterator begin, Iterator end) const {
    if (!charge_()) return {end, true};
    const std::size_t available = static_cast<std::size_t>(end - begin);
    if (available < 2) return {begin, false};
    const char* first = &*begin;
    for (const char* cr = first; cr < first + available - 1;) {
      cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(first + available - 1 - cr)));
      if (!cr) break;
      if (cr[1] == '\n') return {begin + (cr + 2 - first), true};
      ++cr;
    }
    // Keep the last byte: a CR there may be followed by the LF of the next read.
    return {begin + (available - 1), false};
  }

 private:
  BufferCharge charge_;
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
template <>
struct is_match_condition<HttpCore::LineMatcher> : public std::true_type {};
}  // namespace asio
}  // namespace boost
