// Docklane's memory against clients that try to exhaust it: two hundred
// connections each announcing a 200 MB body and holding back its last byte.
// What all requests buffer is bounded (512 MiB); those that would go over
// are answered 413 at once, and the next request and the pipe are served.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.hpp"

namespace e2e {
namespace {

constexpr std::size_t kBodyBytes = 200u * 1000 * 1000;
constexpr std::size_t kConnections = 200;
constexpr long kBudgetKiB = 512 * 1024;
constexpr long kMarginKiB = 128 * 1024;

long StatusKiB(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

int Connect() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return fd;
}

// Sends the head and all of the body but its last byte; false as soon as
// the server has closed the connection (it refused the body).
bool SendAllButTheLastByte(int fd) {
  const std::string head = "POST /get_files HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                           "Content-Length: " + std::to_string(kBodyBytes) + "\r\n\r\n";
  if (::send(fd, head.data(), head.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(head.size())) return false;
  // Give the server the time to answer a refusal before the body goes.
  pollfd answer{fd, POLLIN, 0};
  if (::poll(&answer, 1, 50) > 0) return false;
  const std::string chunk(1 << 20, ' ');
  for (std::size_t sent = 0; sent < kBodyBytes - 1;) {
    const std::size_t n = std::min(chunk.size(), kBodyBytes - 1 - sent);
    const ssize_t done = ::send(fd, chunk.data(), n, MSG_NOSIGNAL);
    if (done <= 0) return false;
    sent += static_cast<std::size_t>(done);
  }
  return true;
}

std::string ReadUntilClosed(int fd) {
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  return reply;
}

TEST(DocklaneMemory, TwoHundredHeldBackBodiesStayWithinTheBudgetAndOthersAreServed) {
  ASSERT_FALSE(Listening(kPort)) << "something else already listens on port 3465";
  TestHome home;
  Process lane(DOCKLANE_PATH, home.Environment(), home.root() + "/docklane");
  ASSERT_TRUE(WaitUntil([&] { return ::access(home.pipe_path().c_str(), F_OK) == 0; }, milliseconds(15000)));
  PipeClient pipe;
  ASSERT_TRUE(pipe.Connect(home.pipe_path()));
  ASSERT_TRUE(WaitUntil([] { return Listening(kPort); }, milliseconds(5000)));
  const long rss_at_start = StatusKiB(lane.pid(), "VmRSS");

  std::vector<int> held;
  std::vector<int> refused;
  for (std::size_t i = 0; i < kConnections; ++i) {
    const int fd = Connect();
    ASSERT_GE(fd, 0) << "connection " << i;
    (SendAllButTheLastByte(fd) ? held : refused).push_back(fd);
  }
  // 512 MiB take two bodies of 200 MB; every other one was refused at once.
  EXPECT_EQ(held.size(), 2u);
  ASSERT_EQ(held.size() + refused.size(), kConnections);
  for (int fd : refused) {
    EXPECT_EQ(ReadUntilClosed(fd).rfind("HTTP/1.1 413 Payload Too Large\r\n", 0), 0u);
    ::close(fd);
  }

  ASSERT_TRUE(lane.Running()) << lane.Stderr();
  const long rss_held = StatusKiB(lane.pid(), "VmRSS");
  const long peak = StatusKiB(lane.pid(), "VmHWM");
  std::printf("Docklane RSS: %.1f MiB at start, %.1f MiB with %zu bodies held and %zu refused, peak %.1f MiB\n",
              rss_at_start / 1024.0, rss_held / 1024.0, held.size(), refused.size(), peak / 1024.0);
  EXPECT_LT(rss_held, rss_at_start + kBudgetKiB + kMarginKiB);
  EXPECT_LT(peak, rss_at_start + kBudgetKiB + kMarginKiB);
  // The bodies really are held: the budget is what bounds them.
  EXPECT_GT(rss_held, rss_at_start + 2 * static_cast<long>(kBodyBytes / 1024) - kMarginKiB);

  const HttpReply next = HttpGet("/get_version_info");
  ASSERT_TRUE(next.ok);
  EXPECT_EQ(next.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(pipe.Exchange("ping").bytes, std::string("pong\0", 5));

  // The held bodies complete and are answered; what they took is free again.
  for (int fd : held) {
    ASSERT_EQ(::send(fd, " ", 1, MSG_NOSIGNAL), 1);
    EXPECT_EQ(ReadUntilClosed(fd).rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
    ::close(fd);
  }
  const int again = Connect();
  ASSERT_GE(again, 0);
  EXPECT_TRUE(SendAllButTheLastByte(again));
  ::close(again);
  EXPECT_TRUE(lane.Running());
}

}  // namespace
}  // namespace e2e
