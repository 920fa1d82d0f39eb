#include "service/service_main.hpp"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "service/pipe_client.hpp"

namespace {

platform::ServiceStatusHandle g_statusHandle = nullptr;

// The reported status is written by ServiceMain and by the control handler.
std::mutex g_statusMutex;
platform::ServiceStatus g_status;

// The stop event: manual reset, set once by the handler.
std::atomic<bool> g_stopEvent{false};

void ReportStatus(platform::ServiceState state, std::uint32_t controls_accepted,
                  std::uint32_t exit_code, std::uint32_t check_point) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  g_status.current_state = state;
  g_status.controls_accepted = controls_accepted;
  g_status.win32_exit_code = exit_code;
  g_status.service_specific_exit_code = 0;
  g_status.check_point = check_point;
  g_status.wait_hint = 0;
  platform::SetServiceStatus(g_statusHandle, g_status);
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

platform::ServiceState CurrentServiceState() {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  return g_status.current_state;
}

int StopWaitThread() {
  while (!g_stopEvent.load()) SleepMs(kStopPollMs);
  return 0;
}

void ServiceCtrlHandler(std::uint32_t control) {
  if (control != platform::kServiceControlStop) return;
  g_quitFlag = 1;
  SleepMs(kQuitGraceMs);  // the client loop's next exchange sends "quit"
  if (CurrentServiceState() != platform::ServiceState::kRunning) return;
  ReportStatus(platform::ServiceState::kStopPending, 0, 0, 4);
  g_stopEvent = true;
}

void ServiceMain() {
  g_statusHandle = platform::RegisterServiceControlHandler(kServiceName, ServiceCtrlHandler);
  if (g_statusHandle == nullptr) return;
  ReportStatus(platform::ServiceState::kStartPending, 0, 0, 0);

  // Not joined: the loop ends with the process once the service has stopped.
  std::thread(PipeClientLoop).detach();

  // An atomic flag cannot fail to be created, so the stopped-with-error
  // report of a failed event creation has no cause here.
  g_stopEvent = false;
  ReportStatus(platform::ServiceState::kRunning, platform::kServiceAcceptStop, 0, 0);
  std::thread waiter(StopWaitThread);
  waiter.join();
  ReportStatus(platform::ServiceState::kStopped, 0, 0, 3);
}
