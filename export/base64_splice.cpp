#include "export/base64_splice.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#include "base/json_text.hpp"

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

Base64Splice::Base64Splice(Base64File::Keep files) : Base64Splice(RandomTag(), files) {}

Base64Splice::Base64Splice(std::uint64_t tag, Base64File::Keep files) : tag_(TagText(tag)), keep_(files) {}

Json::Value Base64Splice::StandIn(std::string base64) {
  if (base64.empty()) return Json::Value("");
  hold_.Add(base64.size());
  inserts_.push_back(ReplyBody::Insert{0, std::move(base64), nullptr});
  return Json::Value("\x01" + tag_ + std::to_string(inserts_.size() - 1) + "\x01");
}

Json::Value Base64Splice::StandInFile(const std::string& path, bool* readable) {
  const std::shared_ptr<Base64File> file = Base64File::Open(path, keep_);
  if (readable) *readable = file != nullptr;
  if (!file || file->size() == 0) return Json::Value("");
  if (keep_ == Base64File::Keep::kHold && !file->held()) {
    // It may be gone by the time the reply is sent: its text is taken now.
    std::string base64;
    if (!file->ReadBase64(base64)) {
      if (readable) *readable = false;
      return Json::Value("");
    }
    return StandIn(std::move(base64));
  }
  inserts_.push_back(ReplyBody::Insert{0, std::string(), file});
  return Json::Value("\x01" + tag_ + std::to_string(inserts_.size() - 1) + "\x01");
}

void Base64Splice::ChargeText(std::string_view text) { hold_.Add(StyledJsonStringSize(text)); }

ReplyBody Base64Splice::Lay(const Json::Value& reply) {
  ReplyBody body;
  body.text_ = StyledJson(reply);
  std::string& text = body.text_;

  // Cuts each stand-in's written form, quotes kept, out of the text in
  // place, noting where its insert goes.
  std::vector<bool> seen(inserts_.size(), false);
  std::uint64_t inserted_memory = 0;
  const std::string open = "\"" + std::string(kWrittenControl) + tag_;
  std::size_t kept = 0;  // text bytes kept so far, moved to the front
  std::size_t from = 0;  // first byte not yet looked at
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, from)) {
    const std::size_t digits = at + open.size();
    std::size_t end = digits;
    std::size_t index = 0;
    while (end < text.size() && end - digits < kMaxIndexDigits && text[end] >= '0' && text[end] <= '9') {
      index = index * 10 + static_cast<std::size_t>(text[end++] - '0');
    }
    if (end == digits || index >= inserts_.size() || seen[index] ||
        text.compare(end, kWrittenControl.size(), kWrittenControl) != 0 ||
        text.compare(end + kWrittenControl.size(), 1, "\"") != 0) {
      throw std::logic_error("Base64 stand-in forged or written twice");
    }
    seen[index] = true;
    // Keep up to and with the opening quote.
    const std::size_t keep_until = at + 1;
    std::memmove(&text[kept], &text[from], keep_until - from);
    kept += keep_until - from;
    ReplyBody::Insert& insert = inserts_[index];
    insert.at = kept;
    body.size_ += insert.file ? insert.file->encoded_size() : insert.base64.size();
    if (!insert.file) inserted_memory += insert.base64.size();
    body.inserts_.push_back(std::move(insert));
    from = end + kWrittenControl.size();  // the closing quote is kept with what follows
  }
  std::memmove(&text[kept], &text[from], text.size() - from);
  text.resize(kept + text.size() - from);
  // A stand-in may be missing: its entry was replaced by a later one under
  // the same key, and its text is simply not sent.
  inserts_.clear();
  body.size_ += text.size();

  hold_.Settle(text.size() + inserted_memory);
  body.hold_ = std::move(hold_);
  return body;
}

std::string Base64Splice::Write(const Json::Value& reply) { return ReplyText(Lay(reply)); }
