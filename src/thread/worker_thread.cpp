#include "thread/worker_thread.h"

#include <atomic>

namespace {

std::atomic<int32_t> startsLeft{-1};  // -1: no limit

}  // namespace

void SetWorkerStartLimit(int32_t starts) { startsLeft.store(starts < 0 ? -1 : starts); }

bool MayStartWorker() {
  int32_t left = startsLeft.load();
  while (left != -1) {
    if (left == 0) return false;
    if (startsLeft.compare_exchange_weak(left, left - 1)) return true;
  }
  return true;
}
