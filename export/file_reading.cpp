#include "export/file_reading.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/base64.hpp"

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

// O_NONBLOCK keeps open() itself from waiting for a FIFO writer.
int OpenRegularFile(const std::string& path, std::uint64_t max_bytes,
                    std::uint64_t& size, struct stat* status) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<std::uint64_t>(st.st_size) > max_bytes) {
    close(fd);
    return -1;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  if (status) *status = st;
  return fd;
}

long long ReadFullAt(int fd, char* buffer, std::size_t want, std::uint64_t offset) {
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = pread(fd, buffer + got, want - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(got);
}


bool ReadWholeFile(const std::string& path, std::uint64_t max_bytes,
                   std::string& bytes) {
  bytes.clear();
  std::uint64_t size = 0;
  FileDescriptor fd(OpenRegularFile(path, max_bytes, size));
  if (fd.get() < 0) return false;
  bytes.resize(static_cast<std::size_t>(size));
  const long long got = ReadFullAt(fd.get(), &bytes[0], bytes.size(), 0);
  if (got < 0) {
    bytes.clear();
    return false;
  }
  bytes.resize(static_cast<std::size_t>(got));
  return true;
}

bool ReadFileAsBase64(const std::string& path, std::string& base64) {
  base64.clear();
  std::uint64_t size = 0;
  FileDescriptor fd(OpenRegularFile(path, kMaxBase64FileBytes, size));
  if (fd.get() < 0) return false;

  // Chunks are a multiple of 3 bytes, so only the last one can need padding,
  // and small enough to stay in the cache between reading and encoding.
  constexpr std::size_t kChunk = 3 * 128 * 1024;
  const std::unique_ptr<char[]> chunk(new char[kChunk]);
  std::string text(Base64EncodedLength(static_cast<std::size_t>(size)), '\0');
  std::size_t written = 0;
  std::uint64_t left = size;
  while (left > 0) {
    const std::size_t want =
        left < kChunk ? static_cast<std::size_t>(left) : kChunk;
    const long long got = ReadFullAt(fd.get(), chunk.get(), want, size - left);
    if (got < 0) return false;
    written += Base64EncodeTo(reinterpret_cast<const unsigned char*>(chunk.get()),
                              static_cast<std::size_t>(got), &text[0] + written);
    if (static_cast<std::size_t>(got) < want) break;  // the file shrank
    left -= want;
  }
  text.resize(written);
  base64 = std::move(text);
  return true;
}

bool CopyRegularFile(const std::string& from, const std::string& to,
                     std::uint64_t max_bytes) {
  unlink(to.c_str());
  std::uint64_t size = 0;
  FileDescriptor in(OpenRegularFile(from, max_bytes, size));
  if (in.get() < 0) return false;
  FileDescriptor out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return false;

  constexpr std::size_t kChunk = 256 * 1024;
  const std::unique_ptr<char[]> chunk(new char[kChunk]);
  std::uint64_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const std::size_t want = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
    const long long got = ReadFullAt(in.get(), chunk.get(), want, size - left);
    if (got < 0) {
      ok = false;
      break;
    }
    std::size_t put = 0;
    while (put < static_cast<std::size_t>(got)) {
      const ssize_t n = write(out.get(), chunk.get() + put, static_cast<std::size_t>(got) - put);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      put += static_cast<std::size_t>(n);
    }
    if (static_cast<std::size_t>(got) < want) break;  // the file shrank
    left -= want;
  }
  if (!ok) unlink(to.c_str());
  return ok;
}
