// A count that many threads take from and give back to, never above a limit:
// the memory held by requests being read, the text held by replies, the files
// replies keep open. One compare-exchange loop serves them all, so "fits" is
// decided the same way everywhere.
#pragma once

#include <atomic>
#include <utility>

template <typename Count>
class BoundedBudget {
 public:
  constexpr explicit BoundedBudget(Count limit) noexcept : limit_(limit) {}
  BoundedBudget(const BoundedBudget&) = delete;
  BoundedBudget& operator=(const BoundedBudget&) = delete;

  // Takes `amount` when it fits in what is left; false (taking nothing) when not.
  bool take(Count amount) noexcept {
    const Count limit = limit_.load(std::memory_order_relaxed);
    Count used = used_.load(std::memory_order_relaxed);
    do {
      // Written so that neither side can overflow.
      if (amount > limit || used > limit - amount) return false;
    } while (!used_.compare_exchange_weak(used, used + amount, std::memory_order_relaxed));
    return true;
  }
  void give(Count amount) noexcept { used_.fetch_sub(amount, std::memory_order_relaxed); }

  Count used() const noexcept { return used_.load(std::memory_order_relaxed); }
  Count limit() const noexcept { return limit_.load(std::memory_order_relaxed); }
  // Only what is taken afterwards is held to the new limit.
  void set_limit(Count limit) noexcept { limit_.store(limit, std::memory_order_relaxed); }

 private:
  std::atomic<Count> limit_;
  std::atomic<Count> used_{0};
};

// One holder's share of a budget, reached through `Pointer` (a raw or shared
// pointer): set to what the holder has now, given back when it ends. A
// moved-from share holds nothing.
template <typename Count, typename Pointer = BoundedBudget<Count>*>
class BoundedShare {
 public:
  BoundedShare() = default;
  explicit BoundedShare(Pointer budget) noexcept : budget_(std::move(budget)) {}
  ~BoundedShare() { give_all(); }
  BoundedShare(BoundedShare&& other) noexcept
      : budget_(other.budget_), held_(std::exchange(other.held_, Count{0})) {}
  BoundedShare& operator=(BoundedShare&& other) noexcept {
    if (this != &other) {
      give_all();
      budget_ = other.budget_;
      held_ = std::exchange(other.held_, Count{0});
    }
    return *this;
  }

  // Moves the share to another budget (or none), giving back what it held.
  void set_budget(Pointer budget) {
    give_all();
    budget_ = std::move(budget);
  }
  const Pointer& budget() const noexcept { return budget_; }

  // Makes the share `amount`. False, leaving it as it was, when the budget
  // cannot take the growth. Without a budget everything fits.
  bool settle(Count amount) noexcept {
    if (!budget_) return true;
    if (amount > held_) {
      if (!budget_->take(amount - held_)) return false;
    } else {
      budget_->give(held_ - amount);
    }
    held_ = amount;
    return true;
  }
  Count held() const noexcept { return held_; }

 private:
  void give_all() noexcept {
    if (budget_) budget_->give(held_);
    held_ = 0;
  }

  Pointer budget_{};
  Count held_{0};
};
