// Opens many connections at once to a server, leaves them idle, and checks
// that the server closes every one by its time-out without burning CPU, and
// still answers afterwards:
//   bench_http_idle <port> <server pid> [connections] [time-out seconds]
// Prints its figures; exits non-zero when a check fails.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// User plus system CPU time of a process, in seconds.
double cpu_of(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

int open_to(int port, bool blocking) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_http_idle <port> <server pid> [connections] [time-out s]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int pid = std::atoi(argv[2]);
  const int count = argc > 3 ? std::atoi(argv[3]) : 2000;
  const double timeout = argc > 4 ? std::atof(argv[4]) : 5.0;

  std::vector<pollfd> polls;
  const auto start = Clock::now();
  const double cpu_start = cpu_of(pid);
  for (int i = 0; i < count; ++i) {
    const int fd = open_to(port, false);
    if (fd < 0) {
      std::fprintf(stderr, "connection %d failed: %s\n", i, std::strerror(errno));
      return 1;
    }
    polls.push_back({fd, POLLIN, 0});
  }
  const double opened = seconds(Clock::now() - start);

  // Wait for every close (end of stream or reset), at most twice the time-out.
  int open = count;
  double first_close = -1, last_close = -1;
  const auto deadline = start + std::chrono::milliseconds(static_cast<long>(timeout * 2000 + 2000));
  while (open > 0 && Clock::now() < deadline) {
    const int ready = ::poll(polls.data(), polls.size(), 100);
    if (ready <= 0) continue;
    for (auto& p : polls) {
      if (p.fd < 0 || !p.revents) continue;
      char byte;
      const ssize_t n = ::recv(p.fd, &byte, 1, 0);
      if (n > 0 || (n < 0 && errno == EAGAIN)) continue;
      ::close(p.fd);
      p.fd = -1;
      --open;
      const double at = seconds(Clock::now() - start);
      if (first_close < 0) first_close = at;
      last_close = at;
    }
  }
  const double cpu_idle = cpu_of(pid) - cpu_start;
  for (auto& p : polls)
    if (p.fd >= 0) ::close(p.fd);

  // Then one ordinary request.
  const auto asked = Clock::now();
  const int fd = open_to(port, true);
  std::string reply;
  if (fd >= 0) {
    const char request[] = "GET / HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
    if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
      char chunk[4096];
      ssize_t n;
      while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) reply.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
  }
  const double answered = seconds(Clock::now() - asked);
  const bool ok_reply = reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;

  std::printf("connections opened:        %d in %.3f s\n", count, opened);
  std::printf("closed by the server:      %d of %d\n", count - open, count);
  std::printf("first / last close:        %.3f s / %.3f s after opening began\n", first_close, last_close);
  std::printf("server CPU while idle:     %.3f s over %.3f s\n", cpu_idle, last_close);
  std::printf("request afterwards:        %s in %.3f ms\n", ok_reply ? "200 OK" : "FAILED", answered * 1000);

  const bool all_closed = open == 0 && last_close <= timeout + 1.5;
  const bool no_spin = cpu_idle < 0.1 * timeout;
  std::printf("result:                    %s\n", all_closed && no_spin && ok_reply ? "PASS" : "FAIL");
  return all_closed && no_spin && ok_reply ? 0 : 1;
}
