#include "export/reply_body.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

#include "base/base64.hpp"
#include "base/bounded_budget.hpp"
#include "export/file_reading.hpp"

namespace {

// Raw bytes read per piece: a multiple of 3, so only a file's last piece
// needs padding; large enough that sending costs few system calls, small
// enough that the piece each reply keeps while the socket takes it costs
// little even with many replies under way.
constexpr std::size_t kRawPiece = 3 * 32 * 1024;
constexpr std::size_t kEncodedPiece = kRawPiece / 3 * 4;

// Raw bytes are only needed while a piece is made, so a thread's readers
// share one buffer.
char* RawPieceBuffer() {
  thread_local const std::unique_ptr<char[]> buffer(new char[kRawPiece]);
  return buffer.get();
}

// Each held file takes one slot.
BoundedBudget<int> g_heldFiles{Base64File::kMaxHeld};

// True when `st` is of a regular file of `size` bytes (and, when `device`
// is given, the one with that device and inode).
bool IsLaidOutFile(const struct stat& st, std::uint64_t size, const dev_t* device, ino_t inode) {
  if (!S_ISREG(st.st_mode) || st.st_size < 0) return false;
  if (static_cast<std::uint64_t>(st.st_size) != size) return false;
  return !device || (st.st_dev == *device && st.st_ino == inode);
}

}  // namespace

std::shared_ptr<Base64File> Base64File::Open(const std::string& path, Keep keep) {
  std::uint64_t size = 0;
  struct stat st;
  const int fd = OpenRegularFile(path, kMaxBase64FileBytes, size, &st);
  if (fd < 0) return nullptr;
  std::shared_ptr<Base64File> file(new Base64File);
  file->path_ = path;
  file->size_ = size;
  file->device_ = st.st_dev;
  file->inode_ = st.st_ino;
  if (keep == Keep::kHold && g_heldFiles.take(1)) {
    file->fd_ = fd;
  } else {
    close(fd);
  }
  return file;
}

Base64File::~Base64File() {
  if (fd_ >= 0) {
    close(fd_);
    g_heldFiles.give(1);
  }
}

std::uint64_t Base64File::encoded_size() const noexcept { return (size_ + 2) / 3 * 4; }

int Base64File::OpenForSending() const {
  int fd;
  if (fd_ >= 0) {
    fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Another link to the same file may have been written to.
    struct stat st;
    if (fstat(fd, &st) != 0 || !IsLaidOutFile(st, size_, nullptr, 0)) {
      close(fd);
      return -1;
    }
    return fd;
  }
  std::uint64_t size = 0;
  struct stat st;
  fd = OpenRegularFile(path_, kMaxBase64FileBytes, size, &st);
  if (fd < 0) return -1;
  if (!IsLaidOutFile(st, size_, &device_, inode_)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool Base64File::ReadBase64(std::string& base64) const {
  // A body of this one file reads it the way sending does.
  ReplyBody body;
  body.inserts_.push_back(ReplyBody::Insert{0, std::string(), shared_from_this()});
  body.size_ = encoded_size();
  return body.ToText(base64);
}

ReplyBody::ReplyBody(std::string text) : text_(std::move(text)), size_(text_.size()) {}

void ReplyBody::Truncate(std::size_t length) {
  if (has_inserts() || length >= text_.size()) return;
  text_.resize(length);
  size_ = text_.size();
}

std::string ReplyBody::TakeText() noexcept {
  size_ = 0;
  return std::move(text_);
}

ReplyBody ReplyBody::Held(std::string text) {
  ReplyBody body(std::move(text));
  body.hold_.Add(body.size_);
  return body;
}

std::string ReplyText(const ReplyBody& body) {
  std::string text;
  if (!body.ToText(text)) throw std::runtime_error("a file of the reply changed while it was written");
  return text;
}

bool ReplyBody::ToText(std::string& out, std::uint64_t max_bytes) const {
  out.clear();
  if (size_ > max_bytes || size_ > out.max_size()) return false;
  out.reserve(static_cast<std::size_t>(size_));
  Reader reader(*this);
  std::string_view piece;
  for (;;) {
    switch (reader.Next(piece)) {
      case Reader::Status::kPiece:
        out.append(piece);
        break;
      case Reader::Status::kEnd:
        return out.size() == size_;
      case Reader::Status::kChanged:
        out.clear();
        return false;
    }
  }
}

ReplyBody::Reader::Reader(const ReplyBody& body) : body_(body) {}

ReplyBody::Reader::~Reader() {
  if (fd_ >= 0) close(fd_);
}

void ReplyBody::Reader::EndInsert() {
  in_insert_ = false;
  ++insert_;
}

ReplyBody::Reader::Status ReplyBody::Reader::Next(std::string_view& piece) {
  for (;;) {
    if (!in_insert_) {
      const std::size_t text_until =
          insert_ < body_.inserts_.size() ? body_.inserts_[insert_].at : body_.text_.size();
      if (text_at_ < text_until) {
        piece = std::string_view(body_.text_).substr(text_at_, text_until - text_at_);
        text_at_ = text_until;
        return Status::kPiece;
      }
      if (insert_ == body_.inserts_.size()) return Status::kEnd;
      in_insert_ = true;
    }
    const Insert& insert = body_.inserts_[insert_];
    if (insert.file) return NextOfFile(*insert.file, piece);
    EndInsert();
    if (!insert.base64.empty()) {
      piece = insert.base64;
      return Status::kPiece;
    }
  }
}

ReplyBody::Reader::Status ReplyBody::Reader::NextOfFile(const Base64File& file, std::string_view& piece) {
  if (fd_ < 0) {
    fd_ = file.OpenForSending();
    if (fd_ < 0) return Status::kChanged;
    file_at_ = 0;
    if (!encoded_) encoded_.reset(new char[kEncodedPiece]);
  }
  const std::uint64_t left = file.size() - file_at_;
  const std::size_t want = left < kRawPiece ? static_cast<std::size_t>(left) : kRawPiece;
  char* const raw = RawPieceBuffer();
  if (ReadFullAt(fd_, raw, want, file_at_) != static_cast<long long>(want)) return Status::kChanged;
  const std::size_t encoded = Base64EncodeTo(reinterpret_cast<const unsigned char*>(raw), want, encoded_.get());
  file_at_ += want;
  if (file_at_ == file.size()) {
    // A file that grew is no longer the one whose length was sent.
    char probe;
    if (ReadFullAt(fd_, &probe, 1, file_at_) != 0) return Status::kChanged;
    close(fd_);
    fd_ = -1;
    EndInsert();
  }
  piece = std::string_view(encoded_.get(), encoded);
  return Status::kPiece;
}
