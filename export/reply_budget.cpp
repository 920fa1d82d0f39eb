#include "export/reply_budget.hpp"

#include <atomic>
#include <utility>

namespace {

std::atomic<std::uint64_t> g_held{0};
std::atomic<std::uint64_t> g_budget{kReplyTextBudgetBytes};

bool Take(std::uint64_t bytes) {
  const std::uint64_t budget = g_budget.load(std::memory_order_relaxed);
  std::uint64_t held = g_held.load(std::memory_order_relaxed);
  do {
    if (bytes > budget || held > budget - bytes) return false;
  } while (!g_held.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

void Give(std::uint64_t bytes) { g_held.fetch_sub(bytes, std::memory_order_relaxed); }

}  // namespace

ReplyTextHold::~ReplyTextHold() { Give(held_); }

ReplyTextHold::ReplyTextHold(ReplyTextHold&& other) noexcept : held_(std::exchange(other.held_, 0)) {}

ReplyTextHold& ReplyTextHold::operator=(ReplyTextHold&& other) noexcept {
  if (this != &other) {
    Give(held_);
    held_ = std::exchange(other.held_, 0);
  }
  return *this;
}

void ReplyTextHold::Add(std::uint64_t bytes) {
  if (!Take(bytes)) throw ReplyBudgetExceeded(ReplyBudgetMessage());
  held_ += bytes;
}

void ReplyTextHold::Settle(std::uint64_t bytes) {
  if (bytes > held_) return Add(bytes - held_);
  Give(held_ - bytes);
  held_ = bytes;
}

std::uint64_t ReplyTextHeld() { return g_held.load(std::memory_order_relaxed); }

std::uint64_t ReplyTextBudget() { return g_budget.load(std::memory_order_relaxed); }

void SetReplyTextBudget(std::uint64_t bytes) { g_budget.store(bytes, std::memory_order_relaxed); }

std::string ReplyBudgetMessage() {
  return "The reply's text would exceed the " + std::to_string(ReplyTextBudget() >> 20) +
         " MiB that replies may hold at once";
}
