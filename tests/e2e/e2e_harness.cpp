#include "tests/e2e/e2e_harness.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

bool WaitUntil(const std::function<bool()>& done, milliseconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
}

TestHome::TestHome() {
  char templ[] = "/tmp/dl-e2e-XXXXXX";
  if (::mkdtemp(templ) != nullptr) {
    root_ = templ;
    ::chmod(templ, 0700);
    ::mkdir(runtime_dir().c_str(), 0700);
    ::mkdir(home_dir().c_str(), 0700);
  }
}

TestHome::~TestHome() {
  std::error_code ignored;
  if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::vector<std::string> TestHome::Environment(const std::vector<std::string>& extra) const {
  static const char* const kDropped[] = {"XDG_RUNTIME_DIR=", "HOME=", "NOTIFY_SOCKET=",
                                         "DISPLAY=", "WAYLAND_DISPLAY="};
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool dropped = false;
    for (const char* prefix : kDropped) dropped = dropped || entry.rfind(prefix, 0) == 0;
    if (!dropped) env.push_back(entry);
  }
  env.push_back("XDG_RUNTIME_DIR=" + runtime_dir());
  env.push_back("HOME=" + home_dir());
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

Process::Process(const std::string& program, const std::vector<std::string>& env,
                 const std::string& output_prefix, const std::vector<std::string>& args,
                 const std::string& stdin_path)
    : out_path_(output_prefix + ".out"), err_path_(output_prefix + ".err") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdin_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    WaitExit(milliseconds(5000));
  }
}

bool Process::Running() { return started() && !WaitExit(milliseconds(0)).has_value(); }

std::optional<int> Process::WaitExit(milliseconds limit) {
  if (exit_code_ || !started()) return exit_code_;
  WaitUntil(
      [this] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      limit);
  return exit_code_;
}

void Process::Signal(int signal) {
  if (Running()) ::kill(pid_, signal);
}

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
}  // namespace

std::string Process::Stdout() const { return ReadFile(out_path_); }
std::string Process::Stderr() const { return ReadFile(err_path_); }

VirtualDisplay::VirtualDisplay(const TestHome& home, const std::string& screen) {
  int fds[2];
  // The write end must reach Xvfb: no close-on-exec on it.
  if (::pipe(fds) != 0) return;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  server_ = std::make_unique<Process>(
      "/usr/bin/Xvfb", home.Environment(), home.root() + "/xvfb",
      std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                               "-screen", "0", screen});
  ::close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c;
  while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (!number.empty()) name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
  // SIGTERM lets Xvfb remove its lock and socket files.
  if (server_) {
    server_->Signal(SIGTERM);
    server_->WaitExit(milliseconds(3000));
  }
}

long ContextSwitches(pid_t pid) {
  long total = 0;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

namespace {

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool Listening(std::uint16_t port) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

HttpReply HttpGet(const std::string& path, milliseconds receive_limit) {
  return HttpExchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:3465\r\nConnection: close\r\n\r\n",
                      receive_limit);
}

HttpReply HttpPost(const std::string& path, const std::string& body, milliseconds receive_limit) {
  return HttpExchange("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:3465\r\nConnection: close\r\n" +
                          "Content-Type: text/plain;charset=UTF-8\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body,
                      receive_limit);
}

HttpReply HttpExchange(const std::string& request, milliseconds receive_limit) {
  HttpReply reply;
  const int fd = ConnectLoopback(kPort);
  if (fd < 0) return reply;
  timeval tv{static_cast<time_t>(receive_limit.count() / 1000),
             static_cast<suseconds_t>(receive_limit.count() % 1000 * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return reply;
  }
  std::string data;
  char buffer[65536];
  auto last_data = Clock::now();
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    // A signal to any thread of ours (the C library sends some itself) ends
    // a receive with a time limit early; it is no end of the reply.
    if (n < 0 && errno == EINTR && Clock::now() - last_data < receive_limit) continue;
    if (n <= 0) break;
    last_data = Clock::now();
    data.append(buffer, static_cast<std::size_t>(n));
    const std::size_t head_end = data.find("\r\n\r\n");
    if (head_end == std::string::npos) continue;
    const std::string head = data.substr(0, head_end);
    const std::size_t field = head.find("Content-Length:");
    if (field != std::string::npos &&
        data.size() - head_end - 4 >= std::stoul(head.substr(field + 15))) {
      break;
    }
  }
  ::close(fd);
  const std::size_t line_end = data.find("\r\n");
  const std::size_t head_end = data.find("\r\n\r\n");
  if (line_end == std::string::npos || head_end == std::string::npos) return reply;
  reply.ok = true;
  reply.status_line = data.substr(0, line_end);
  reply.body = data.substr(head_end + 4);
  return reply;
}

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

std::string WithQuery(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& params) {
  std::string url = path;
  char separator = '?';
  for (const auto& [key, value] : params) {
    url += separator + UrlEncode(key) + "=" + UrlEncode(value);
    separator = '&';
  }
  return url;
}

PipeClient::~PipeClient() { Close(); }

bool PipeClient::Connect(const std::string& path) {
  Close();
  fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  // A connect that would hang counts as refused too.
  timeval tv{3, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error_ = errno;
    Close();
    return false;
  }
  error_ = 0;
  return true;
}

bool PipeClient::Send(const std::string& bytes) {
  return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(bytes.size());
}

PipeClient::Reply PipeClient::Receive(milliseconds limit) {
  Reply reply;
  if (fd_ < 0) {
    reply.status = kClosed;
    return reply;
  }
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return reply;
  std::string buffer(2 * 1024 * 1024, '\0');
  const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  // The server never sends an empty message, so zero bytes is the end.
  if (n <= 0) {
    reply.status = kClosed;
    return reply;
  }
  reply.status = kMessage;
  reply.bytes = buffer.substr(0, static_cast<std::size_t>(n));
  return reply;
}

PipeClient::Reply PipeClient::Exchange(const std::string& request, milliseconds limit) {
  if (!Send(request)) {
    Reply closed;
    closed.status = kClosed;
    return closed;
  }
  return Receive(limit);
}

void PipeClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

NotifySocket::NotifySocket(const std::string& path) : path_(path) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

NotifySocket::~NotifySocket() {
  ::close(fd_);
  ::unlink(path_.c_str());
}

const std::vector<std::string>& NotifySocket::Messages(milliseconds limit) {
  pollfd p{fd_, POLLIN, 0};
  int wait = static_cast<int>(limit.count());
  while (::poll(&p, 1, wait) > 0) {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) break;
    messages_.emplace_back(buffer, static_cast<std::size_t>(n));
    wait = 0;
  }
  return messages_;
}

bool NotifySocket::Received(const std::string& assignment, milliseconds limit) {
  return WaitUntil([&] { return IndexOf(Messages(milliseconds(10)), assignment) >= 0; }, limit);
}

int IndexOf(const std::vector<std::string>& messages, const std::string& assignment) {
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::istringstream lines(messages[i]);
    std::string line;
    while (std::getline(lines, line)) {
      if (line == assignment) return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace e2e
