// A reply body laid out before it is sent: the JSON text as the writer made
// it, with the Base64 texts of files left out and read into it only while it
// is sent, piece by piece. Its size, and so the reply's Content-Length, is
// known before a byte of any file is read, and sending it needs a piece's
// worth of memory however large the files are.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/reply_budget.hpp"

// A file whose Base64 text a reply carries. Laid out by its size when it is
// opened; when it is read for sending it must still be that file with that
// size, or the reply cannot be finished.
class Base64File : public std::enable_shared_from_this<Base64File> {
 public:
  enum class Keep {
    kReopen,  // opened again by its path when the reply is sent
    kHold,    // kept open, so that it can be sent after it has been deleted
  };

  // Descriptors that held files may keep open, all replies together; past
  // it a file is opened again by its path (held() is false).
  static constexpr int kMaxHeld = 256;

  // The regular file at `path` of at most kMaxBase64FileBytes; nullptr when
  // it cannot be opened or is no such file.
  static std::shared_ptr<Base64File> Open(const std::string& path, Keep keep);
  ~Base64File();
  Base64File(const Base64File&) = delete;
  Base64File& operator=(const Base64File&) = delete;

  std::uint64_t size() const noexcept { return size_; }
  std::uint64_t encoded_size() const noexcept;
  bool held() const noexcept { return fd_ >= 0; }

  // A descriptor to read it from with pread (the caller closes it), or -1
  // when what is there now is not the file that was laid out: another file
  // at the path, or another size.
  int OpenForSending() const;

  // The Base64 text now; false when the file changed (see OpenForSending).
  bool ReadBase64(std::string& base64) const;

 private:
  Base64File() = default;

  std::string path_;
  std::uint64_t size_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int fd_ = -1;
};

class ReplyBody {
 public:
  ReplyBody() = default;
  explicit ReplyBody(std::string text);
  ReplyBody(ReplyBody&&) noexcept = default;
  ReplyBody& operator=(ReplyBody&&) noexcept = default;

  // Bytes of the whole body, files included.
  std::uint64_t size() const noexcept { return size_; }
  // False when the body is plain text, which may then be changed in place.
  bool has_inserts() const noexcept { return !inserts_.empty(); }
  // The body without its inserts (all of it when it has none).
  const std::string& text() const noexcept { return text_; }
  // True while the body keeps a share of the reply text budget, which it
  // must keep until its last byte has been sent.
  bool holds_budget() const noexcept { return hold_.held() > 0; }
  // Ends a plain body at `length` bytes (no longer than it is).
  void Truncate(std::size_t length);
  // Gives a plain body's text away, leaving the body empty.
  std::string TakeText() noexcept;

  // A plain text charged to the reply text budget for as long as the body
  // lives; throws ReplyBudgetExceeded when it does not fit.
  static ReplyBody Held(std::string text);

  // The whole body as one text, files read now. False when it is larger than
  // `max_bytes`, or a file changed since it was laid out.
  bool ToText(std::string& out,
              std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max()) const;

  // Walks the body piece by piece; the body must outlive it.
  class Reader {
   public:
    enum class Status {
      kPiece,    // `piece` holds the next bytes (valid until the next call)
      kEnd,      // every byte has been given
      kChanged,  // a file is no longer what was laid out: the body cannot be finished
    };
    explicit Reader(const ReplyBody& body);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    Status Next(std::string_view& piece);

   private:
    Status NextOfFile(const Base64File& file, std::string_view& piece);
    void EndInsert();

    const ReplyBody& body_;
    std::size_t insert_ = 0;
    std::size_t text_at_ = 0;
    bool in_insert_ = false;
    int fd_ = -1;
    std::uint64_t file_at_ = 0;
    std::unique_ptr<char[]> encoded_;
  };

 private:
  friend class Base64File;
  friend class Base64Splice;

  // Base64 text put at byte `at` of text_: in memory, or a file's.
  struct Insert {
    std::size_t at;
    std::string base64;
    std::shared_ptr<const Base64File> file;
  };

  std::string text_;
  std::vector<Insert> inserts_;
  std::uint64_t size_ = 0;
  ReplyTextHold hold_;
};

// The body as one text, for tests, benchmarks and callers that want a
// string; throws std::runtime_error when a file changed since it was laid out.
std::string ReplyText(const ReplyBody& body);
