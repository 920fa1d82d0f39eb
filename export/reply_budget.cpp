#include "export/reply_budget.hpp"

#include <limits>

#include "base/bounded_budget.hpp"

namespace {

BoundedBudget<std::uint64_t> g_budget{kReplyTextBudgetBytes};

}  // namespace

ReplyTextHold::ReplyTextHold() noexcept : share_(&g_budget) {}

void ReplyTextHold::Add(std::uint64_t bytes) {
  // A growth that cannot even be counted is past any budget.
  if (bytes > std::numeric_limits<std::uint64_t>::max() - share_.held()) {
    throw ReplyBudgetExceeded(ReplyBudgetMessage());
  }
  Settle(share_.held() + bytes);
}

void ReplyTextHold::Settle(std::uint64_t bytes) {
  if (!share_.settle(bytes)) throw ReplyBudgetExceeded(ReplyBudgetMessage());
}

std::uint64_t ReplyTextHeld() { return g_budget.used(); }

std::uint64_t ReplyTextBudget() { return g_budget.limit(); }

void SetReplyTextBudget(std::uint64_t bytes) { g_budget.set_limit(bytes); }

std::string ReplyBudgetMessage() {
  return "The reply's text would exceed the " + std::to_string(ReplyTextBudget() >> 20) +
         " MiB that replies may hold at once";
}
