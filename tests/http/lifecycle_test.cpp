// Binding, start and stop, the connection registry, the handler gate, and
// accepting when the process runs out of descriptors.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <boost/system/system_error.hpp>

#include "server_fixture.hpp"

namespace http_test {
namespace {

std::string bind_failure(HttpCore::Server& server) {
  try {
    server.bind_listener();
  } catch (const boost::system::system_error& e) {
    return e.what();
  }
  return "";
}

TEST(Bind, PortInUseNamesTheBindStep) {
  TestServer first;
  first.echo_get_and_post();
  first.start();
  HttpCore::Server second(first.port);
  second.settings.bind_address = "127.0.0.1";
  EXPECT_EQ(bind_failure(second).rfind("bind", 0), 0u) << bind_failure(second);
}

TEST(Bind, UnparsableAddressThrows) {
  HttpCore::Server server(0);
  server.settings.bind_address = "not an address";
  EXPECT_THROW(server.bind_listener(), boost::system::system_error);
}

TEST(Bind, ListenWithoutBindNamesTheListenStep) {
  HttpCore::Server server(0);
  try {
    server.listen_and_run();
    FAIL() << "no exception";
  } catch (const boost::system::system_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("listen", 0), 0u) << e.what();
  }
}

class ExposedServer : public HttpCore::Server {
 public:
  using HttpCore::Server::Server;
  int listener() { return acceptor->native_handle(); }
};

TEST(Bind, EmptyAddressMeansEveryIpv4InterfaceWithAddressReuse) {
  ExposedServer server(0);
  const std::uint16_t port = server.bind_listener();
  ASSERT_NE(port, 0);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ASSERT_EQ(::getsockname(server.listener(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
  ASSERT_EQ(bound.ss_family, AF_INET);
  EXPECT_EQ(reinterpret_cast<sockaddr_in*>(&bound)->sin_addr.s_addr, htonl(INADDR_ANY));
  int reuse = 0;
  length = sizeof reuse;
  ASSERT_EQ(::getsockopt(server.listener(), SOL_SOCKET, SO_REUSEADDR, &reuse, &length), 0);
  EXPECT_NE(reuse, 0);
}

TEST(Bind, Ipv6AddressGivesAnIpv6Listener) {
  ExposedServer server(0);
  server.settings.bind_address = "::1";
  try {
    server.bind_listener();
  } catch (const boost::system::system_error&) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ASSERT_EQ(::getsockname(server.listener(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
  EXPECT_EQ(bound.ss_family, AF_INET6);
}

TEST(Lifecycle, CallerSuppliedLoopIsRunByTheCaller) {
  HttpCore::Server server(0);
  server.settings.bind_address = "127.0.0.1";
  auto loop = std::make_shared<boost::asio::io_context>();
  server.event_loop = loop;
  server.default_handlers["GET"] = [](std::shared_ptr<Response> response, std::shared_ptr<Request>) {
    response->write_status(200, "own loop");
  };
  const std::uint16_t port = server.bind_listener();
  server.listen_and_run();  // returns at once: the loop is not the server's
  std::thread runner([&] { loop->run(); });
  {
    Client client(port);
    client.send(get("/"));
    EXPECT_EQ(client.read_reply(), "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nown loop");
  }
  boost::asio::post(*loop, [&] {
    server.stop();
    loop->stop();
  });
  runner.join();
}

TEST(Lifecycle, StopClosesEveryConnectionAndEndsTheLoop) {
  TestServer server;
  server.echo_get_and_post();
  server.start();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<Client>(server.port));
  clients[0]->send(get("/"));
  ASSERT_FALSE(clients[0]->read_reply().empty());
  const auto deadline = Clock::now() + 2000ms;
  while (server.server.live_connection_count() < 6 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(server.server.live_connection_count(), 6u);  // five clients and the pending accept
  const auto start = Clock::now();
  server.shut_down();
  for (auto& client : clients) EXPECT_TRUE(client->wait_closed(1000ms));
  EXPECT_LT(seconds_since(start), 1.0);
  EXPECT_EQ(server.server.live_connection_count(), 0u);
  EXPECT_THROW(Client{server.port}, std::runtime_error);
}

TEST(Lifecycle, ClosedConnectionsLeaveTheRegistry) {
  TestServer server;
  server.echo_get_and_post();
  server.start();
  for (int i = 0; i < 20; ++i) {
    Client client(server.port);
    client.send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(client.read_reply().empty());
  }
  const auto deadline = Clock::now() + 2000ms;
  while (server.server.live_connection_count() > 1 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(server.server.live_connection_count(), 1u);
}

TEST(Gate, PassesCountAndStopWaitsForThem) {
  HttpCore::HandlerGate gate;
  auto first = gate.enter();
  auto second = gate.enter();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(gate.active_count.load(), 2);
  second.reset();
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    gate.stop();
    stopped = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(stopped.load());  // a handler is still inside
  first.reset();
  stopper.join();
  EXPECT_TRUE(stopped.load());
  EXPECT_EQ(gate.active_count.load(), -1);
  EXPECT_FALSE(gate.enter());
  gate.stop();  // a second stop returns at once
  EXPECT_TRUE(gate.stopped());
}

// Raises the soft descriptor limit back when the test ends.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

int highest_open_descriptor() {
  int highest = 0;
  for (int fd = 0; fd < 4096; ++fd)
    if (::fcntl(fd, F_GETFD) != -1) highest = fd;
  return highest;
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(Accept, OutOfDescriptorsPausesInsteadOfSpinning) {
  TestServer server;
  server.echo_get_and_post();
  server.start();
  {
    // One full request cycle first. Under UBSan, the first check of each
    // dynamic type needs a pipe, which a process out of descriptors lacks.
    Client warm_up(server.port);
    warm_up.send(get("/"));
    ASSERT_FALSE(warm_up.read_reply().empty());
  }
  const auto released = Clock::now() + 2000ms;
  while (server.server.live_connection_count() > 1 && Clock::now() < released) std::this_thread::sleep_for(5ms);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(std::make_unique<Client>(Client::Later{}, server.port));
  {
    // Room for exactly three more descriptors: the server accepts three, then fails.
    DescriptorLimit limit(static_cast<rlim_t>(highest_open_descriptor() + 4));
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) fillers.push_back(fd);
    ASSERT_GE(fillers.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      ::close(fillers.back());
      fillers.pop_back();
    }
    for (auto& client : clients) ASSERT_TRUE(client->connect());
    std::this_thread::sleep_for(100ms);
    const std::size_t errors_before = server.errors().size();
    const double cpu_before = cpu_seconds();
    std::this_thread::sleep_for(500ms);
    const double cpu_used = cpu_seconds() - cpu_before;
    const std::size_t failed_accepts = server.errors().size() - errors_before;
    EXPECT_GT(failed_accepts, 0u);
    EXPECT_LT(failed_accepts, 30u);  // about one try per 50 ms, not a spin
    EXPECT_LT(cpu_used, 0.2);
    bool saw_emfile = false;
    for (const auto& ec : server.errors()) saw_emfile |= ec == boost::system::errc::too_many_files_open;
    EXPECT_TRUE(saw_emfile);
    for (int fd : fillers) ::close(fd);
  }
  // With descriptors back, the waiting connections are accepted and served.
  for (auto& client : clients) {
    client->send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(client->read_reply(3000ms).rfind("HTTP/1.1 200 OK", 0), 0u);
  }
}

}  // namespace
}  // namespace http_test
