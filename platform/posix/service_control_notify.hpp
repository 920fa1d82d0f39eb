// The sd_notify datagram protocol of systemd, spoken without libsystemd.
#pragma once

#include <string>

#include "platform/service_control.hpp"

namespace platform {
namespace posix {

// Sends `message` (newline-separated VAR=value assignments) as one datagram
// to `address`: a socket path starting with '/', or an abstract socket
// name written with a leading '@'. False when it cannot be delivered.
bool SendServiceNotification(const std::string& address, const std::string& message);

// The notification that reports `status`: READY=1 for running, STOPPING=1
// for stop-pending, and always a STATUS= text for the service manager's
// status display; ERRNO= when a stopped service carries an exit code.
std::string StatusNotification(const ServiceStatus& status);

}  // namespace posix
}  // namespace platform
