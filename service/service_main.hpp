// Docwarden as a service: its entry point, its stop handling and the state
// it reports to the service manager.
#pragma once

#include <cstdint>

#include "platform/service_control.hpp"

constexpr char kServiceName[] = "Plumeto Web Service";

// Time the stop handler leaves the client loop to send "quit", and the
// period at which the stop is looked for.
constexpr int kQuitGraceMs = 1000;
constexpr int kStopPollMs = 1000;

// The service entry point: reports start-pending, starts the pipe client,
// reports running, waits for the stop, reports stopped.
void ServiceMain();

// Control handler: only the stop control is handled.
void ServiceCtrlHandler(std::uint32_t control);

// Waits for the stop event, looking once a second. Returns 0.
int StopWaitThread();

// The state last reported.
platform::ServiceState CurrentServiceState();
