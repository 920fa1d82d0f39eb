// Control pipe on POSIX: a SOCK_SEQPACKET Unix socket, which keeps message
// boundaries like a message-mode named pipe, at <runtime dir>/docklane_pipe.
//
// Ownership of the name is a flock on <socket>.lock, held for the life of the
// process: the kernel drops it when the process dies however it dies, so a
// socket file left by a killed instance is recognised as stale and replaced,
// while a live instance keeps every later one out.

#include "base/debug_trace.hpp"
#include "platform/control_pipe.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

constexpr char kPipeName[] = "docklane_pipe";
constexpr char kLockSuffix[] = ".lock";

// A reply of the server (the clipboard with its pictures) can be over a
// megabyte and must leave as one message; the kernel caps this at twice
// net.core.wmem_max, and a larger message is refused as kTooLarge.
constexpr int kSendBufferBytes = 4 * 1024 * 1024;

// A client that stops reading must not hold the server's pipe thread forever.
constexpr int kServerSendTimeoutSeconds = 10;

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

void SetTimeout(int fd, int option, int seconds) {
  timeval tv{};
  tv.tv_sec = seconds;
  ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

// The folder that holds the socket: $XDG_RUNTIME_DIR when it names a
// directory, else /tmp/docklane-<uid>, which must be ours, a real directory
// and private. Empty on failure, with `error` set.
std::string RuntimeDir(bool create, std::string& error) {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/') {
    struct stat st {};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
  }
  const std::string dir = "/tmp/docklane-" + std::to_string(::geteuid());
  if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = ErrnoText("cannot create " + dir, errno);
    return {};
  }
  // Opened without following a symlink, so the checks and the chmod below
  // act on the same directory.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("cannot open " + dir, errno);
    return {};
  }
  struct stat st {};
  std::string result;
  if (::fstat(fd, &st) != 0) {
    error = ErrnoText("cannot inspect " + dir, errno);
  } else if (st.st_uid != ::geteuid()) {
    error = dir + " belongs to another user";
  } else if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
    error = ErrnoText("cannot make " + dir + " private", errno);
  } else {
    result = dir;
  }
  ::close(fd);
  return result;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr, std::string& error) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// After a read of zero bytes: did the peer close, or was that an empty
// message? A closed peer leaves the socket in the hang-up state.
bool PeerHungUp(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) < 0) return true;
  return (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

PipeRead ReadOne(int fd, char* buffer, std::size_t capacity) {
  PipeRead result;
  if (fd < 0) return result;
  for (;;) {
    // MSG_TRUNC makes recv report the whole message's length, so an
    // over-long message is seen as such instead of being cut silently.
    const ssize_t n = ::recv(fd, buffer, capacity, MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      DL_TRACE("pipe", ErrnoText("read", errno));
      return result;
    }
    const auto got = static_cast<std::size_t>(n);
    if (got > capacity) {
      result.status = PipeRead::kTooLong;
      result.size = got;
    } else if (got == 0 && PeerHungUp(fd)) {
      result.status = PipeRead::kPeerGone;
    } else {
      result.status = PipeRead::kMessage;
      result.size = got;
    }
    return result;
  }
}

PipeWrite WriteOne(int fd, const char* data, std::size_t size) {
  if (fd < 0) return PipeWrite::kFailed;
  for (;;) {
    // MSG_NOSIGNAL: a vanished peer is an error to report, not a SIGPIPE.
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      DL_TRACE("pipe", ErrnoText("write", errno));
      return errno == EMSGSIZE ? PipeWrite::kTooLarge : PipeWrite::kFailed;
    }
    return static_cast<std::size_t>(n) == size ? PipeWrite::kSent : PipeWrite::kFailed;
  }
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

class PosixControlPipeServer final : public ControlPipeServer {
 public:
  ~PosixControlPipeServer() override {
    Remove();
    CloseFd(lock_fd_);
  }

  CreateResult Create() override {
    const std::string dir = RuntimeDir(true, error_);
    if (dir.empty()) return CreateResult::kFailed;
    path_ = dir + "/" + kPipeName;
    sockaddr_un addr{};
    if (!MakeAddress(path_, addr, error_)) return CreateResult::kFailed;

    const std::string lock_path = path_ + kLockSuffix;
    // Close-on-exec, so that programs this process starts (the document
    // engine) cannot keep the lock alive after it has died.
    lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_fd_ < 0) {
      error_ = ErrnoText("cannot open " + lock_path, errno);
      return CreateResult::kFailed;
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      CloseFd(lock_fd_);
      if (err == EWOULDBLOCK) {
        error_ = "another instance owns " + path_;
        return CreateResult::kAlreadyRunning;
      }
      error_ = ErrnoText("cannot lock " + lock_path, err);
      return CreateResult::kFailed;
    }

    // The name is ours now: whatever sits at the path is a leftover.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode) || ::unlink(path_.c_str()) != 0) {
        error_ = "cannot remove the stale " + path_;
        return CreateResult::kFailed;
      }
    }

    listen_fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
      error_ = ErrnoText("socket", errno);
      return CreateResult::kFailed;
    }
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      error_ = ErrnoText("cannot bind " + path_, errno);
      CloseFd(listen_fd_);
      return CreateResult::kFailed;
    }
    created_ = true;
    // Private before anyone can connect: connects fail until listen().
    if (::chmod(path_.c_str(), 0600) != 0 || ::listen(listen_fd_, 1) != 0) {
      error_ = ErrnoText("cannot open " + path_ + " for clients", errno);
      Remove();
      return CreateResult::kFailed;
    }
    return CreateResult::kCreated;
  }

  bool WaitForClient() override {
    if (listen_fd_ < 0) {
      error_ = "the pipe is not listening";
      return false;
    }
    int fd = -1;
    for (;;) {
      fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) break;
      // A client that gave up while queued is not a failure of the wait.
      if (errno == EINTR || errno == ECONNABORTED) continue;
      error_ = ErrnoText("accept", errno);
      DL_TRACE("pipe", error_);
      return false;
    }
    // One connection for the life of the process: later clients are
    // refused at once (the name stays, nobody listens on it).
    CloseFd(listen_fd_);
    conn_fd_ = fd;
    ::setsockopt(conn_fd_, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    SetTimeout(conn_fd_, SO_SNDTIMEO, kServerSendTimeoutSeconds);
    return true;
  }

  PipeRead ReadMessage(char* buffer, std::size_t capacity) override {
    return ReadOne(conn_fd_, buffer, capacity);
  }

  PipeWrite WriteMessage(const char* data, std::size_t size) override {
    return WriteOne(conn_fd_, data, size);
  }

  void Disconnect() override {
    if (conn_fd_ >= 0) ::shutdown(conn_fd_, SHUT_RDWR);
    CloseFd(conn_fd_);
  }

  void Remove() override {
    Disconnect();
    CloseFd(listen_fd_);
    // Only the socket: the lock file stays, since removing it would let two
    // processes lock two different files of the same name.
    if (created_) ::unlink(path_.c_str());
    created_ = false;
  }

  std::string Address() const override { return path_; }
  std::string ErrorText() const override { return error_; }

 private:
  std::string path_;
  std::string error_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  int conn_fd_ = -1;
  bool created_ = false;
};

class PosixControlPipeClient final : public ControlPipeClient {
 public:
  ~PosixControlPipeClient() override { Close(); }

  bool Open() override {
    Close();
    std::string error;
    const std::string dir = RuntimeDir(false, error);
    sockaddr_un addr{};
    if (dir.empty() || !MakeAddress(dir + "/" + kPipeName, addr, error)) return false;
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    // Bounds connect (a full backlog), writes and reads alike.
    SetTimeout(fd_, SO_SNDTIMEO, kClientReplyTimeoutSeconds);
    SetTimeout(fd_, SO_RCVTIMEO, kClientReplyTimeoutSeconds);
    int rc;
    do {
      rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      DL_TRACE("pipe", ErrnoText("connect to " + dir + "/" + kPipeName, errno));
      Close();
      return false;
    }
    return true;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  bool SetMessageMode() override { return fd_ >= 0; }

  PipeWrite WriteMessage(const char* data, std::size_t size) override {
    return WriteOne(fd_, data, size);
  }

  PipeRead ReadMessage(char* buffer, std::size_t capacity) override {
    return ReadOne(fd_, buffer, capacity);
  }

  void Close() override { CloseFd(fd_); }

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<ControlPipeServer> CreateControlPipeServer() {
  return std::make_unique<PosixControlPipeServer>();
}

std::unique_ptr<ControlPipeClient> CreateControlPipeClient() {
  return std::make_unique<PosixControlPipeClient>();
}

std::string ControlPipeAddress() {
  std::string error;
  const std::string dir = RuntimeDir(false, error);
  return dir.empty() ? std::string() : dir + "/" + kPipeName;
}

}  // namespace platform
