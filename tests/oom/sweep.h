// Runs a piece of work once with every allocation that it makes failing in
// turn: the first, the second, and so on until a run whose allocations all
// succeed. FIX_OOM_STRIDE=N tries only every N-th allocation (the first
// always among them), for a quicker run; FIX_OOM_AFTER=1 makes every
// allocation after the chosen one fail as well (memory that stays short).
#pragma once

#include <cstdint>
#include <functional>

namespace oom_test {

struct SweepCounts {
  uint64_t points = 0;       // runs in which an allocation was made to fail
  uint64_t allocations = 0;  // allocations of the run in which none failed
};

// Calls `prepare` before every run (outside the count), `run` inside it with
// the number of the allocation that fails (0 in the last run, in which none
// does), and `check` afterwards (outside the count) with that number.
// `check` returns false to end the sweep early.
SweepCounts SweepAllocations(const std::function<void()>& prepare, const std::function<void()>& run,
                             const std::function<bool(uint64_t failAt)>& check);

}  // namespace oom_test
