// Xlib has no time limit of its own (connecting to a display that does not
// answer, a round trip to a server that hangs): each call of an X11 backend
// runs on a thread of its own that can be left behind. While a call left
// behind still runs, no new one starts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace platform {

template <typename Result>
class BoundedCall {
 public:
  using Clock = std::chrono::steady_clock;

  BoundedCall() = default;
  BoundedCall(const BoundedCall&) = delete;
  BoundedCall& operator=(const BoundedCall&) = delete;

  // A call left behind holds nothing of this object, but is given a moment
  // to end rather than being cut off by the end of the process.
  ~BoundedCall() {
    const std::lock_guard<std::mutex> serial(mutex_);
    if (!stalled_) return;
    std::unique_lock<std::mutex> lock(stalled_->mutex);
    stalled_->finished.wait_for(lock, std::chrono::seconds(2), [&] { return stalled_->done; });
  }

  // The result of `work`, run on a thread of its own; nothing when it has not
  // finished by `deadline`, when an earlier call left behind still runs, or
  // when no thread can be started.
  std::optional<Result> Run(std::function<Result()> work, Clock::time_point deadline) {
    const std::lock_guard<std::mutex> serial(mutex_);
    if (stalled_) {
      const std::lock_guard<std::mutex> lock(stalled_->mutex);
      if (!stalled_->done) return std::nullopt;
    }
    stalled_.reset();
    auto attempt = std::make_shared<Attempt>();
    try {
      std::thread([attempt, work = std::move(work)] {
        Result result = work();
        const std::lock_guard<std::mutex> lock(attempt->mutex);
        attempt->result = std::move(result);
        attempt->done = true;
        attempt->finished.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      return std::nullopt;
    }
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->finished.wait_until(lock, deadline, [&] { return attempt->done; })) {
      stalled_ = attempt;
      return std::nullopt;
    }
    return std::move(attempt->result);
  }

 private:
  struct Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Result result{};
  };

  std::mutex mutex_;
  std::shared_ptr<Attempt> stalled_;
};

}  // namespace platform
