#include "http/handler_gate.hpp"

#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace HttpCore {
namespace {

inline void pause_spin() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#else
  std::this_thread::yield();
#endif
}

}  // namespace

std::optional<HandlerGate::Pass> HandlerGate::enter() {
  long value = active_count.load(std::memory_order_acquire);
  while (value >= 0) {
    if (active_count.compare_exchange_weak(value, value + 1, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
      return std::optional<Pass>(std::in_place, active_count);
    pause_spin();
  }
  return std::nullopt;
}

void HandlerGate::stop() {
  long expected = 0;
  while (!active_count.compare_exchange_weak(expected, -1, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
    if (expected < 0) return;
    expected = 0;
    pause_spin();
  }
}

}  // namespace HttpCore
