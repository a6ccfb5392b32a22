#include "oom/sweep.h"

#include <cstdlib>

#include "oom/failing_allocator.h"

namespace oom_test {

namespace {

uint64_t Stride() {
  const char* wanted = getenv("FIX_OOM_STRIDE");
  const long stride = wanted != nullptr ? strtol(wanted, nullptr, 10) : 1;
  return stride > 1 ? static_cast<uint64_t>(stride) : 1;
}

}  // namespace

SweepCounts SweepAllocations(const std::function<void()>& prepare, const std::function<void()>& run,
                             const std::function<bool(uint64_t failAt)>& check) {
  SweepCounts counts;
  const uint64_t stride = Stride();
  const char* after = getenv("FIX_OOM_AFTER");
  const bool andAfter = after != nullptr && after[0] == '1';
  for (uint64_t failAt = 1;; failAt += stride) {
    prepare();
    failing_allocator::Begin(failAt, andAfter);
    run();
    const uint64_t made = failing_allocator::End();
    if (!failing_allocator::Failed()) {
      // The run made fewer allocations than failAt: it is a clean run, and
      // the last one.
      counts.allocations = made;
      check(0);
      return counts;
    }
    ++counts.points;
    if (!check(failAt)) return counts;
  }
}

}  // namespace oom_test
