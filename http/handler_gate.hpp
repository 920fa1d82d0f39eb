#pragma once
// Keeps completion handlers from touching a server that is shutting down:
// every handler enters the gate first, and stop() waits until none is inside.

#include <atomic>
#include <optional>

namespace HttpCore {

class HandlerGate {
 public:
  // Held while a handler runs; leaving the gate is its destruction.
  class Pass {
   public:
    explicit Pass(std::atomic<long>& count) noexcept : count_(&count) {}
    ~Pass() {
      if (count_) count_->fetch_sub(1, std::memory_order_release);
    }
    Pass(Pass&& other) noexcept : count_(other.count_) { other.count_ = nullptr; }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    Pass& operator=(Pass&&) = delete;

   private:
    std::atomic<long>* count_;
  };

  HandlerGate() = default;
  HandlerGate(const HandlerGate&) = delete;
  HandlerGate& operator=(const HandlerGate&) = delete;

  // A pass, or nothing once the gate is stopped.
  std::optional<Pass> enter();
  // Waits until no handler is inside, then closes the gate for good.
  void stop();
  bool stopped() const noexcept { return active_count.load(std::memory_order_acquire) < 0; }

  // Handlers inside while open; -1 once stopped.
  std::atomic<long> active_count{0};
};

}  // namespace HttpCore
