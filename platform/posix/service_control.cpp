// Service control on POSIX, for a systemd user service.
//
// SIGTERM and SIGINT are blocked in every thread and read from a signalfd by
// a control thread of the dispatcher, which calls the service's handler as
// an ordinary function: the handler may sleep, lock and report, which a
// signal handler could not. A stop arriving before the service accepts
// stopping is held back and delivered once it does, as a service manager
// would deliver it.

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/service_control_notify.hpp"
#include "platform/service_control.hpp"

struct platform::ServiceStatusHandleTag {};

namespace platform {
namespace {

ServiceStatusHandleTag g_handle;

struct Dispatcher {
  std::mutex mutex;
  std::string name;  // the service being run; empty when none
  ServiceControlHandler handler = nullptr;
  bool stop_pending_delivery = false;  // a stop came before it was accepted
  std::uint32_t controls_accepted = 0;
  int wake_fd = -1;  // eventfd: wakes the control thread
  bool finishing = false;
};

Dispatcher& TheDispatcher() {
  // Never destroyed: the control thread may still look at it while the
  // process exits.
  static Dispatcher* dispatcher = new Dispatcher;
  return *dispatcher;
}

void Wake(int fd) {
  const std::uint64_t one = 1;
  if (fd >= 0) {
    ssize_t n;
    do {
      n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
  }
}

// Hands a held-back stop to the handler when the service accepts it now.
void DeliverPendingStop() {
  Dispatcher& d = TheDispatcher();
  ServiceControlHandler handler = nullptr;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.stop_pending_delivery || d.handler == nullptr ||
        (d.controls_accepted & kServiceAcceptStop) == 0) {
      return;
    }
    d.stop_pending_delivery = false;
    handler = d.handler;
  }
  handler(kServiceControlStop);
}

void ControlThread(int signal_fd, int wake_fd) {
  Dispatcher& d = TheDispatcher();
  for (;;) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.stop_pending_delivery = true;
      }
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      if (::read(wake_fd, &count, sizeof count) < 0 && errno != EAGAIN) return;
    }
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      if (d.finishing) return;
    }
    DeliverPendingStop();
  }
}

const char* StateText(const ServiceStatus& status) {
  switch (status.current_state) {
    case ServiceState::kStartPending: return "Starting";
    case ServiceState::kRunning: return "Running";
    case ServiceState::kStopPending: return "Stopping";
    case ServiceState::kStopped: return "Stopped";
  }
  return "Unknown";
}

}  // namespace

namespace posix {

bool SendServiceNotification(const std::string& address, const std::string& message) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (address.size() < 2 || address.size() >= sizeof addr.sun_path ||
      (address[0] != '/' && address[0] != '@')) {
    return false;
  }
  std::memcpy(addr.sun_path, address.data(), address.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
  if (address[0] == '@') {
    addr.sun_path[0] = '\0';  // abstract namespace: the name has no terminator
  } else {
    length += 1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&addr), length);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n >= 0 && static_cast<std::size_t>(n) == message.size();
}

std::string StatusNotification(const ServiceStatus& status) {
  std::string message;
  if (status.current_state == ServiceState::kRunning) message += "READY=1\n";
  if (status.current_state == ServiceState::kStopPending) message += "STOPPING=1\n";
  message += "STATUS=";
  message += StateText(status);
  if (status.current_state == ServiceState::kStopped && status.win32_exit_code != 0) {
    message += " (error " + std::to_string(status.win32_exit_code) + ")\nERRNO=" +
               std::to_string(status.win32_exit_code);
  }
  return message;
}

}  // namespace posix

int RunServiceDispatcher(const char* name, ServiceMainFunction service_main) {
  if (name == nullptr || service_main == nullptr) return EINVAL;
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  // Blocked before any thread starts, so every thread inherits the mask and
  // the signals wait in the signalfd.
  sigset_t previous;
  int err = ::pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
  if (err != 0) return err;
  const int signal_fd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);
  const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (signal_fd < 0 || wake_fd < 0) {
    err = errno;
    if (signal_fd >= 0) ::close(signal_fd);
    if (wake_fd >= 0) ::close(wake_fd);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return err;
  }

  Dispatcher& d = TheDispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.name = name;
    d.handler = nullptr;
    d.stop_pending_delivery = false;
    d.controls_accepted = 0;
    d.wake_fd = wake_fd;
    d.finishing = false;
  }
  std::thread control(ControlThread, signal_fd, wake_fd);

  service_main();

  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.finishing = true;
    d.name.clear();
    d.handler = nullptr;
    d.wake_fd = -1;
  }
  Wake(wake_fd);
  control.join();
  ::close(signal_fd);
  ::close(wake_fd);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return 0;
}

ServiceStatusHandle RegisterServiceControlHandler(const char* name, ServiceControlHandler handler) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (name == nullptr || handler == nullptr || d.name.empty() || d.name != name) return nullptr;
  d.handler = handler;
  return &g_handle;
}

bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (handle != &g_handle) return false;
  Dispatcher& d = TheDispatcher();
  int wake_fd = -1;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.controls_accepted = status.controls_accepted;
    if (d.stop_pending_delivery && (status.controls_accepted & kServiceAcceptStop) != 0) {
      wake_fd = d.wake_fd;
    }
  }
  // A stop held back until now goes to the handler on the control thread.
  Wake(wake_fd);

  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || socket[0] == '\0') return true;
  return posix::SendServiceNotification(socket, posix::StatusNotification(status));
}

}  // namespace platform
