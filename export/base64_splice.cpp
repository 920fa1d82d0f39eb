#include "export/base64_splice.hpp"

#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string_view>

#include "export/json_text.hpp"

namespace {

// A stand-in is "\x01<tag><index>\x01"; the writer escapes the control
// characters, so it appears in the written reply as "\u0001<tag><index>\u0001"
// and nothing else there is escaped that way with the same tag.
constexpr std::string_view kWrittenControl = "\\u0001";
constexpr std::size_t kMaxIndexDigits = 9;

std::uint64_t RandomTag() {
  try {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
  } catch (const std::exception&) {
    // No entropy source: the clock still makes the tag hard to foresee.
    return static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

std::string TagText(std::uint64_t tag) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(tag));
  return text;
}

}  // namespace

Base64Splice::Base64Splice() : Base64Splice(RandomTag()) {}

Base64Splice::Base64Splice(std::uint64_t tag) : tag_(TagText(tag)) {}

Json::Value Base64Splice::StandIn(std::string base64) {
  if (base64.empty()) return Json::Value("");
  texts_.push_back(std::move(base64));
  return Json::Value("\x01" + tag_ + std::to_string(texts_.size() - 1) + "\x01");
}

std::string Base64Splice::Write(const Json::Value& reply) {
  std::string laid_out = StyledJson(reply);
  if (texts_.empty()) return laid_out;

  // Where each stand-in's written form lies, between its quotes.
  struct Place {
    std::size_t begin;
    std::size_t end;
    std::size_t index;
  };
  std::vector<Place> places;
  places.reserve(texts_.size());
  std::vector<bool> seen(texts_.size(), false);
  const std::string open = "\"" + std::string(kWrittenControl) + tag_;
  for (std::size_t at = laid_out.find(open); at != std::string::npos;
       at = laid_out.find(open, at + 1)) {
    const std::size_t digits = at + open.size();
    std::size_t end = digits;
    std::size_t index = 0;
    while (end < laid_out.size() && end - digits < kMaxIndexDigits &&
           laid_out[end] >= '0' && laid_out[end] <= '9') {
      index = index * 10 + static_cast<std::size_t>(laid_out[end++] - '0');
    }
    if (end == digits || index >= texts_.size() || seen[index] ||
        laid_out.compare(end, kWrittenControl.size(), kWrittenControl) != 0 ||
        laid_out.compare(end + kWrittenControl.size(), 1, "\"") != 0) {
      throw std::logic_error("Base64 stand-in forged or written twice");
    }
    seen[index] = true;
    places.push_back({at + 1, end + kWrittenControl.size(), index});
    at = end;
  }
  // A stand-in may be missing: its entry was replaced by a later one under
  // the same key, and its text is simply not sent.

  std::size_t size = laid_out.size();
  for (const Place& place : places) {
    size = size - (place.end - place.begin) + texts_[place.index].size();
  }
  std::string out;
  out.reserve(size);
  std::size_t from = 0;
  for (const Place& place : places) {
    out.append(laid_out, from, place.begin - from);
    out.append(texts_[place.index]);
    // Released at once, so that the reply and the texts are not all held
    // side by side while it is built.
    std::string().swap(texts_[place.index]);
    from = place.end;
  }
  out.append(laid_out, from, std::string::npos);
  texts_.clear();
  return out;
}
