#pragma once
// The memory that requests being read or served may hold in their buffers,
// all connections together. Each request's buffers are charged to it as they
// grow; a request that would take more than is left is refused with 413, so
// no number of clients can make the server buffer without bound.

#include <atomic>
#include <cstddef>
#include <memory>

namespace HttpCore {

class RequestBudget {
 public:
  explicit RequestBudget(std::size_t limit) : limit_(limit) {}
  RequestBudget(const RequestBudget&) = delete;
  RequestBudget& operator=(const RequestBudget&) = delete;

  // Takes `bytes` when they fit in what is left; false (taking nothing) when not.
  bool take(std::size_t bytes) noexcept {
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (bytes > limit_ || used > limit_ - bytes) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
  }
  void give(std::size_t bytes) noexcept { used_.fetch_sub(bytes, std::memory_order_relaxed); }

  std::size_t used() const noexcept { return used_.load(std::memory_order_relaxed); }
  std::size_t limit() const noexcept { return limit_; }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

// One request's share of a budget: set to what its buffers hold now, given
// back when it ends.
class BudgetShare {
 public:
  BudgetShare() = default;
  ~BudgetShare() { set_budget(nullptr); }
  BudgetShare(const BudgetShare&) = delete;
  BudgetShare& operator=(const BudgetShare&) = delete;

  // Moves the share to another budget (or none), giving back what it held.
  void set_budget(std::shared_ptr<RequestBudget> budget) {
    if (budget_) budget_->give(held_);
    held_ = 0;
    budget_ = std::move(budget);
  }
  const std::shared_ptr<RequestBudget>& budget() const noexcept { return budget_; }

  // Makes the share `bytes`. False, leaving it as it was, when the budget
  // cannot take the growth. Without a budget everything fits.
  bool settle(std::size_t bytes) noexcept {
    if (!budget_) return true;
    if (bytes > held_) {
      if (!budget_->take(bytes - held_)) return false;
    } else {
      budget_->give(held_ - bytes);
    }
    held_ = bytes;
    return true;
  }
  std::size_t held() const noexcept { return held_; }

 private:
  std::shared_ptr<RequestBudget> budget_;
  std::size_t held_ = 0;
};

}  // namespace HttpCore
