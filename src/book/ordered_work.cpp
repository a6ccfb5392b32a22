#include "book/ordered_work.h"

#include <memory>
#include <new>

#include "thread/worker_thread.h"

namespace {

// A thread besides the caller, and what the caller tells it.
struct Member {
  OrderedWork* work = nullptr;
  uint32_t id = 0;
  WorkerThread* thread = nullptr;
  WorkerSignal* go = nullptr;    // raised by the caller once `index` or `stop` is set
  WorkerSignal* done = nullptr;  // raised by the thread once the item is done
  uint32_t index = 0;
  bool stop = false;
  bool busy = false;  // the caller's own note: handed an item not yet collected
};

void RunMember(void* context) {
  Member* member = static_cast<Member*>(context);
  for (;;) {
    AwaitWorkerSignal(member->go);
    if (member->stop) return;
    member->work->Do(member->index, member->id);
    RaiseWorkerSignal(member->done);
  }
}

// The caller (member 0) and the threads it could start. Leaving, it lets
// every thread finish its item and joins it, whatever became of the run.
class Crew {
 public:
  explicit Crew(OrderedWork* work) : work_(work) {}
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() {
    for (uint32_t i = 1; i < size_; ++i) {
      Member& member = members_[i];
      if (member.busy) AwaitWorkerSignal(member.done);
      member.stop = true;
      RaiseWorkerSignal(member.go);
      JoinWorkerThread(member.thread);
      FreeWorkerSignal(member.go);
      FreeWorkerSignal(member.done);
    }
  }

  // Starts up to wanted − 1 threads; one that cannot start ends the starting.
  // False when not even the caller's own place can be had.
  bool Start(uint32_t wanted) {
    members_.reset(new (std::nothrow) Member[wanted]);
    if (!members_) return false;
    size_ = 1;
    while (size_ < wanted) {
      Member& member = members_[size_];
      member.work = work_;
      member.id = size_;
      member.go = MakeWorkerSignal();
      member.done = MakeWorkerSignal();
      if (member.go != nullptr && member.done != nullptr)
        member.thread = StartWorkerThread(RunMember, &member);
      if (member.thread == nullptr) {
        FreeWorkerSignal(member.go);
        FreeWorkerSignal(member.done);
        break;
      }
      ++size_;
    }
    return true;
  }

  uint32_t Size() const { return size_; }

  // Member 0 is the caller: it does the item itself, now.
  void Hand(uint32_t member, uint32_t index) {
    if (member == 0) {
      work_->Do(index, 0);
      return;
    }
    members_[member].index = index;
    members_[member].busy = true;
    RaiseWorkerSignal(members_[member].go);
  }

  void Collect(uint32_t member) {
    if (member == 0) return;
    AwaitWorkerSignal(members_[member].done);
    members_[member].busy = false;
  }

 private:
  OrderedWork* work_;
  std::unique_ptr<Member[]> members_;
  uint32_t size_ = 0;
};

}  // namespace

bool RunOrderedWork(OrderedWork* work, uint32_t count, uint32_t members) {
  if (count == 0) return true;
  Crew crew(work);
  if (!crew.Start(members < 1 ? 1 : members < count ? members : count)) return false;
  const uint32_t stride = crew.Size();
  if (stride == 0) return false;  // Start leaves at least the caller; said for the analyzer

  // Items are prepared strictly in index order; the first that cannot be
  // prepared is where the run ends.
  uint32_t end = count;
  for (uint32_t i = 0; i < stride && i < end; ++i) {
    if (!work->Prepare(i, i)) end = i;
    else if (i > 0) crew.Hand(i, i);
  }
  for (uint32_t index = 0; index < end; ++index) {
    const uint32_t owner = index % stride;
    if (owner == 0) crew.Hand(0, index);
    crew.Collect(owner);
    if (!work->Take(index, owner)) return false;
    const uint32_t next = index + stride;
    if (next >= end) continue;
    if (!work->Prepare(next, owner)) end = next;
    else if (owner != 0) crew.Hand(owner, next);
  }
  return end == count;
}
