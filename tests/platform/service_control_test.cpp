// The service control layer: the sd_notify datagrams a systemd manager
// reads, and stop requests arriving as signals.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/service_control_notify.hpp"
#include "platform/service_control.hpp"

namespace {

using platform::ServiceState;
using platform::ServiceStatus;

// A datagram socket standing in for the manager's notification socket.
class NotifyListener {
 public:
  explicit NotifyListener(bool abstract) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string name = "dl-notify-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter_++);
    socklen_t length;
    if (abstract) {
      address_ = "@" + name;
      std::memcpy(addr.sun_path + 1, name.data(), name.size());
      length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    } else {
      address_ = "/tmp/" + name;
      ::unlink(address_.c_str());
      std::strcpy(addr.sun_path, address_.c_str());
      length = sizeof addr;
    }
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
    timeval tv{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~NotifyListener() {
    ::close(fd_);
    if (address_[0] == '/') ::unlink(address_.c_str());
  }

  bool bound() const { return bound_; }
  const std::string& address() const { return address_; }

  // The next datagram, or "<none>" after two seconds.
  std::string Next() {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n < 0 ? "<none>" : std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  static inline int counter_ = 0;
  int fd_ = -1;
  bool bound_ = false;
  std::string address_;
};

ServiceStatus Status(ServiceState state, std::uint32_t accepted = 0, std::uint32_t exit_code = 0) {
  ServiceStatus status;
  status.current_state = state;
  status.controls_accepted = accepted;
  status.win32_exit_code = exit_code;
  return status;
}

TEST(ServiceNotification, ReachesAPathSocketAsOneDatagram) {
  NotifyListener listener(false);
  ASSERT_TRUE(listener.bound());
  EXPECT_TRUE(platform::posix::SendServiceNotification(listener.address(), "READY=1\nSTATUS=Running"));
  EXPECT_EQ(listener.Next(), "READY=1\nSTATUS=Running");
}

TEST(ServiceNotification, ReachesAnAbstractSocketWrittenWithAnAt) {
  NotifyListener listener(true);
  ASSERT_TRUE(listener.bound());
  EXPECT_TRUE(platform::posix::SendServiceNotification(listener.address(), "STOPPING=1"));
  EXPECT_EQ(listener.Next(), "STOPPING=1");
}

TEST(ServiceNotification, UnusableAddressesFailWithoutSending) {
  EXPECT_FALSE(platform::posix::SendServiceNotification("", "READY=1"));
  EXPECT_FALSE(platform::posix::SendServiceNotification("@", "READY=1"));
  EXPECT_FALSE(platform::posix::SendServiceNotification("relative/socket", "READY=1"));
  EXPECT_FALSE(platform::posix::SendServiceNotification("/" + std::string(200, 'x'), "READY=1"));
  EXPECT_FALSE(platform::posix::SendServiceNotification("/nonexistent-dir/notify", "READY=1"));
}

TEST(ServiceNotification, EachStateSaysWhatTheManagerNeeds) {
  using platform::posix::StatusNotification;
  EXPECT_EQ(StatusNotification(Status(ServiceState::kStartPending)), "STATUS=Starting");
  EXPECT_EQ(StatusNotification(Status(ServiceState::kRunning, 1)), "READY=1\nSTATUS=Running");
  EXPECT_EQ(StatusNotification(Status(ServiceState::kStopPending)), "STOPPING=1\nSTATUS=Stopping");
  EXPECT_EQ(StatusNotification(Status(ServiceState::kStopped)), "STATUS=Stopped");
  EXPECT_EQ(StatusNotification(Status(ServiceState::kStopped, 0, 12)),
            "STATUS=Stopped (error 12)\nERRNO=12");
}

TEST(ServiceRegistration, OutsideTheDispatcherNothingRegistersOrReports) {
  EXPECT_EQ(platform::RegisterServiceControlHandler("Plumeto Web Service", [](std::uint32_t) {}),
            nullptr);
  EXPECT_FALSE(platform::SetServiceStatus(nullptr, Status(ServiceState::kRunning)));
}

// One dispatcher run per test: the service main and handler below record
// what happened in these.
std::atomic<int> g_stops{0};
std::atomic<bool> g_accept_late{false};
std::atomic<int> g_signal{SIGTERM};
std::atomic<bool> g_wrong_name_refused{false};
std::atomic<bool> g_stops_before_accepting{false};

void RecordingHandler(std::uint32_t control) {
  if (control == platform::kServiceControlStop) ++g_stops;
}

bool WaitForStops(int count, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (g_stops.load() < count && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return g_stops.load() >= count;
}

void TestServiceMain() {
  g_wrong_name_refused =
      platform::RegisterServiceControlHandler("Some Other Service", RecordingHandler) == nullptr;
  auto handle = platform::RegisterServiceControlHandler("Test Service", RecordingHandler);
  if (handle == nullptr) return;
  platform::SetServiceStatus(handle, Status(ServiceState::kStartPending));
  if (g_accept_late) {
    ::kill(::getpid(), g_signal.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_stops_before_accepting = g_stops.load() > 0;
  }
  platform::SetServiceStatus(handle, Status(ServiceState::kRunning, platform::kServiceAcceptStop));
  if (!g_accept_late) ::kill(::getpid(), g_signal.load());
  WaitForStops(1, std::chrono::seconds(5));
  platform::SetServiceStatus(handle, Status(ServiceState::kStopped));
}

class ServiceDispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    g_stops = 0;
    g_accept_late = false;
    g_signal = SIGTERM;
    g_wrong_name_refused = false;
    g_stops_before_accepting = false;
    ASSERT_TRUE(listener_.bound());
    ::setenv("NOTIFY_SOCKET", listener_.address().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("NOTIFY_SOCKET"); }

  NotifyListener listener_{false};
};

TEST_F(ServiceDispatcher, SigtermBecomesTheStopControlAndStatesAreNotified) {
  EXPECT_EQ(platform::RunServiceDispatcher("Test Service", TestServiceMain), 0);
  EXPECT_EQ(g_stops.load(), 1);
  EXPECT_TRUE(g_wrong_name_refused.load());
  EXPECT_EQ(listener_.Next(), "STATUS=Starting");
  EXPECT_EQ(listener_.Next(), "READY=1\nSTATUS=Running");
  EXPECT_EQ(listener_.Next(), "STATUS=Stopped");
}

TEST_F(ServiceDispatcher, SigintStopsTheServiceToo) {
  g_signal = SIGINT;
  EXPECT_EQ(platform::RunServiceDispatcher("Test Service", TestServiceMain), 0);
  EXPECT_EQ(g_stops.load(), 1);
}

TEST_F(ServiceDispatcher, AStopBeforeTheServiceAcceptsItWaitsUntilItDoes) {
  g_accept_late = true;
  EXPECT_EQ(platform::RunServiceDispatcher("Test Service", TestServiceMain), 0);
  EXPECT_FALSE(g_stops_before_accepting.load());
  EXPECT_EQ(g_stops.load(), 1);
}

TEST_F(ServiceDispatcher, AfterTheServiceReturnsTheSignalsAreNoLongerHeld) {
  EXPECT_EQ(platform::RunServiceDispatcher("Test Service", TestServiceMain), 0);
  sigset_t blocked;
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, nullptr, &blocked), 0);
  EXPECT_FALSE(sigismember(&blocked, SIGTERM));
  EXPECT_FALSE(sigismember(&blocked, SIGINT));
}

}  // namespace
