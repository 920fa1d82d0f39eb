#pragma once
// The memory that requests being read or served may hold in their buffers,
// all connections together. Each request's buffers are charged to it as they
// grow; a request that would take more than is left is refused with 413, so
// no number of clients can make the server buffer without bound.

#include <cstddef>
#include <memory>

#include "base/bounded_budget.hpp"

namespace HttpCore {

using RequestBudget = BoundedBudget<std::size_t>;

// One request's share of a budget: set to what its buffers hold now, given
// back when it ends. The server and its requests share the budget, so
// whichever ends last frees it.
using BudgetShare = BoundedShare<std::size_t, std::shared_ptr<RequestBudget>>;

}  // namespace HttpCore
