// Window managers act on requests in their own time: the window tests poll.
#pragma once

#include <chrono>
#include <thread>

namespace windows_test {

// Polls `condition` every 10 ms until it holds or `limit` passes.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace windows_test
