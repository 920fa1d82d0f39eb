// Service control: how the watchdog runs as a service of the system's
// service manager, takes its stop request and reports its state.
//
// The POSIX backend (posix/service_control.cpp) runs under a systemd user
// manager: the stop request is SIGTERM or SIGINT, delivered to the control
// handler on a thread of the layer (never inside a signal handler), and
// states go out with the sd_notify protocol when NOTIFY_SOCKET is set.
#pragma once

#include <cstdint>

namespace platform {

// Service states, numbered as the service managers of Windows number them.
enum class ServiceState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

// Controls a service may accept, and controls its handler receives.
constexpr std::uint32_t kServiceAcceptStop = 1;
constexpr std::uint32_t kServiceControlStop = 1;

struct ServiceStatus {
  ServiceState current_state = ServiceState::kStartPending;
  std::uint32_t controls_accepted = 0;
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;
};

using ServiceMainFunction = void (*)();
using ServiceControlHandler = void (*)(std::uint32_t control);

// Opaque token of a registered service, null on failure.
struct ServiceStatusHandleTag;
using ServiceStatusHandle = ServiceStatusHandleTag*;

// Runs `service_main` for the service `name` on the calling thread and
// delivers controls to the handler it registers. Call it first thing in
// main, before any thread exists. Returns 0 once `service_main` has
// returned, or an error code when the service could not be run.
int RunServiceDispatcher(const char* name, ServiceMainFunction service_main);

// Registers the control handler of the running service. Null when `name`
// is not the service being run.
ServiceStatusHandle RegisterServiceControlHandler(const char* name, ServiceControlHandler handler);

// Reports the service's state to the service manager. False when the report
// could not be delivered; a service run without a manager reports nothing
// and gets true.
bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace platform
