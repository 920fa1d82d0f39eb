// What the replies being built or sent may hold as text, all together. A
// reply's pictures are read while it is sent and cost nothing here; its
// texts (pages, text files, the laid-out JSON) are held until it has gone,
// so their sum is bounded: a reply that would take more than is left fails
// with ReplyBudgetExceeded, which the endpoints answer with a JSON failure,
// instead of memory growing with whatever a request asks for.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/bounded_budget.hpp"

inline constexpr std::uint64_t kReplyTextBudgetBytes = std::uint64_t{256} << 20;

class ReplyBudgetExceeded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One reply's share. Given back when it ends.
class ReplyTextHold {
 public:
  ReplyTextHold() noexcept;
  ReplyTextHold(ReplyTextHold&& other) noexcept = default;
  ReplyTextHold& operator=(ReplyTextHold&& other) noexcept = default;
  ReplyTextHold(const ReplyTextHold&) = delete;
  ReplyTextHold& operator=(const ReplyTextHold&) = delete;

  // Adds `bytes` to the share. Throws ReplyBudgetExceeded, adding nothing,
  // when all replies together would hold more than the budget.
  void Add(std::uint64_t bytes);
  // Makes the share `bytes`; throws like Add when that is a growth past the
  // budget.
  void Settle(std::uint64_t bytes);
  std::uint64_t held() const noexcept { return share_.held(); }

 private:
  BoundedShare<std::uint64_t> share_;
};

// What all replies hold right now.
std::uint64_t ReplyTextHeld();

// The budget; kReplyTextBudgetBytes unless changed. Tests and benchmarks set
// a smaller one; not while replies are held.
std::uint64_t ReplyTextBudget();
void SetReplyTextBudget(std::uint64_t bytes);

// The failure's message, naming the budget.
std::string ReplyBudgetMessage();
