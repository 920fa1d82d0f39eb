// The control pipe's request handling: each message the client sends
// matched against the request table, the reply buffer filled, and the
// session loop over a channel whose reads and writes fail as the input says.
//
// Input: records of a kind byte and a length byte, then the message. Kind
// % 8: 0-5 a message of `length` bytes (or, for 5, `length` * 4 bytes,
// longer than a request may be), 6 the client goes, 7 a failed read. Bit 3
// makes the reply's write fail; bit 4 makes it too large for one message.
// The clipboard service answers with the last message, the font service
// with the message repeated to a length the kind byte's top bits choose.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/font_cache.hpp"
#include "app/globals.hpp"
#include "app/pipe_server.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

struct Record {
  std::uint8_t kind;
  std::string bytes;
};

class ScriptedPipe : public platform::ControlPipeServer {
 public:
  explicit ScriptedPipe(std::vector<Record> records) : records_(std::move(records)) {}
  CreateResult Create() override { return CreateResult::kCreated; }
  bool WaitForClient() override { return true; }
  platform::PipeRead ReadMessage(char* buffer, std::size_t capacity) override {
    platform::PipeRead read;
    if (next_ == records_.size()) {
      read.status = platform::PipeRead::kPeerGone;
      return read;
    }
    current_ = &records_[next_++];
    switch (current_->kind % 8) {
      case 6:
        read.status = platform::PipeRead::kPeerGone;
        return read;
      case 7:
        read.status = platform::PipeRead::kFailed;
        return read;
    }
    if (current_->bytes.size() > capacity) {
      read.status = platform::PipeRead::kTooLong;
      return read;
    }
    std::memcpy(buffer, current_->bytes.data(), current_->bytes.size());
    read.status = platform::PipeRead::kMessage;
    read.size = current_->bytes.size();
    return read;
  }
  platform::PipeWrite WriteMessage(const char* data, std::size_t size) override {
    // A reply is always a text with its terminator, never more than the buffer.
    FUZZ_EXPECT(size >= 1 && size <= kPipeReplyBufferSize && data[size - 1] == '\0');
    FUZZ_EXPECT(std::strlen(data) == size - 1);
    if (current_ && (current_->kind & 8)) return platform::PipeWrite::kFailed;
    if (current_ && (current_->kind & 16) && size > 1) return platform::PipeWrite::kTooLarge;
    return platform::PipeWrite::kSent;
  }
  void Disconnect() override {}
  void Remove() override {}
  std::string Address() const override { return "scripted"; }
  std::string ErrorText() const override { return std::string(); }

 private:
  std::vector<Record> records_;
  std::size_t next_ = 0;
  const Record* current_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A failed read prints a line for the operator; not a line per input here.
  static FILE* const quiet = std::freopen("/dev/null", "w", stdout);
  (void)quiet;
  std::vector<Record> records;
  for (std::size_t at = 0; at + 2 <= size;) {
    Record record{data[at], std::string()};
    std::size_t length = data[at + 1];
    if (record.kind % 8 == 5) length *= 4;
    at += 2;
    length = std::min(length, size - at);
    record.bytes.assign(reinterpret_cast<const char*>(data) + at, length);
    at += length;
    records.push_back(std::move(record));
  }

  const std::string last = records.empty() ? std::string() : records.back().bytes;
  const std::size_t font_length = records.empty() ? 0 : static_cast<std::size_t>(records.back().kind >> 5) * 200000;
  PipeServices services;
  services.read_clipboard_json = [&] { return last; };
  services.font_list_json = [&] {
    std::string fonts;
    while (!last.empty() && fonts.size() < font_length) fonts += last;
    return fonts;
  };
  g_fontListCache[0] = '\0';
  g_pipeReply[0] = '\0';

  for (const Record& record : records) {
    AnswerPipeRequest(record.bytes.data(), record.bytes.size(), services);
    FUZZ_EXPECT(std::strlen(g_pipeReply) < kPipeReplyBufferSize);
  }
  ScriptedPipe pipe(records);
  RunPipeSession(pipe, services);
  return 0;
}
