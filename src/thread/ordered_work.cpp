#include "thread/ordered_work.h"

#include <atomic>
#include <memory>
#include <new>

#include "thread/worker_thread.h"

namespace {

// What the caller and its threads share.
struct Shared {
  OrderedWork* work = nullptr;
  uint32_t slots = 1;
  std::atomic<uint32_t> prepared{0};  // the items below it are prepared
  std::atomic<uint32_t> claimed{0};   // the first item nobody has begun
  std::atomic<bool> stop{false};
  std::unique_ptr<std::atomic<uint32_t>[]> done;  // each slot's latest finished item, plus 1
  WorkerSignal* finished = nullptr;               // raised by a thread each time it has finished an item
};

// Claims the first prepared item that nobody has begun; false when there is
// none.
bool Claim(Shared* shared, uint32_t* index) {
  uint32_t next = shared->claimed.load(std::memory_order_relaxed);
  while (next < shared->prepared.load(std::memory_order_acquire)) {
    if (shared->claimed.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel,
                                              std::memory_order_relaxed)) {
      *index = next;
      return true;
    }
  }
  return false;
}

void DoItem(Shared* shared, uint32_t index) {
  const uint32_t slot = index % shared->slots;
  shared->work->Do(index, slot);
  shared->done[slot].store(index + 1, std::memory_order_release);
}

// A thread besides the caller.
struct Member {
  Shared* shared = nullptr;
  WorkerThread* thread = nullptr;
  WorkerSignal* go = nullptr;  // raised by the caller when items were prepared, and to stop
};

void RunMember(void* context) {
  Member* member = static_cast<Member*>(context);
  Shared* shared = member->shared;
  for (;;) {
    if (shared->stop.load(std::memory_order_acquire)) return;
    uint32_t index = 0;
    if (Claim(shared, &index)) {
      DoItem(shared, index);
      RaiseWorkerSignal(shared->finished);
    } else {
      AwaitWorkerSignal(member->go);
    }
  }
}

// The threads the caller could start. Leaving, it lets every thread finish
// its item and joins it, whatever became of the run.
class Crew {
 public:
  explicit Crew(Shared* shared) : shared_(shared) {}
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() {
    shared_->stop.store(true, std::memory_order_release);
    for (uint32_t i = 0; i < size_; ++i) {
      RaiseWorkerSignal(members_[i].go);
      JoinWorkerThread(members_[i].thread);
      FreeWorkerSignal(members_[i].go);
    }
  }

  // Starts up to `wanted` threads; one that cannot start ends the starting.
  void Start(uint32_t wanted) {
    if (wanted == 0) return;
    members_.reset(new (std::nothrow) Member[wanted]);
    if (!members_) return;
    while (size_ < wanted) {
      Member& member = members_[size_];
      member.shared = shared_;
      member.go = MakeWorkerSignal();
      if (member.go != nullptr) member.thread = StartWorkerThread(RunMember, &member);
      if (member.thread == nullptr) {
        FreeWorkerSignal(member.go);
        break;
      }
      ++size_;
    }
  }

  void Wake() {
    for (uint32_t i = 0; i < size_; ++i) RaiseWorkerSignal(members_[i].go);
  }

 private:
  Shared* shared_;
  std::unique_ptr<Member[]> members_;
  uint32_t size_ = 0;
};

struct SignalFree {
  void operator()(WorkerSignal* signal) const { FreeWorkerSignal(signal); }
};

}  // namespace

uint32_t OrderedWorkSlots(uint32_t members) { return members <= 1 ? 1 : members + 1; }

bool RunOrderedWork(OrderedWork* work, uint32_t count, uint32_t members) {
  if (count == 0) return true;
  if (members < 1) members = 1;
  Shared shared;
  shared.work = work;
  shared.slots = OrderedWorkSlots(members);
  shared.done.reset(new (std::nothrow) std::atomic<uint32_t>[shared.slots]);
  if (!shared.done) return false;
  for (uint32_t slot = 0; slot < shared.slots; ++slot) shared.done[slot].store(0);
  // Without the signal the caller works alone: it never has to wait.
  const std::unique_ptr<WorkerSignal, SignalFree> finished(MakeWorkerSignal());
  shared.finished = finished.get();
  const uint32_t threads = members < count ? members - 1 : count - 1;
  Crew crew(&shared);
  if (shared.finished != nullptr && members > 1) crew.Start(threads);

  // Items are prepared strictly in index order, as far as the slots allow;
  // the first that cannot be prepared is where the run ends.
  uint32_t end = count;
  uint32_t prepared = 0;
  for (uint32_t taken = 0; taken < end;) {
    bool more = false;
    while (prepared < end && prepared - taken < shared.slots) {
      if (!work->Prepare(prepared, prepared % shared.slots)) {
        end = prepared;
        break;
      }
      shared.prepared.store(++prepared, std::memory_order_release);
      more = true;
    }
    if (more) crew.Wake();
    if (taken == end) break;

    uint32_t index = 0;
    if (shared.done[taken % shared.slots].load(std::memory_order_acquire) == taken + 1) {
      if (!work->Take(taken, taken % shared.slots)) return false;
      ++taken;
    } else if (Claim(&shared, &index)) {
      DoItem(&shared, index);
    } else {
      // The item to take is in a thread's hands.
      AwaitWorkerSignal(shared.finished);
    }
  }
  return end == count;
}
