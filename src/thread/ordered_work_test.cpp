#include "thread/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "thread/worker_thread.h"

namespace {

constexpr uint32_t Never = 0xFFFFFFFF;

// Records what the run does with each item and slot, and finds fault with
// anything out of turn: a slot handed a new item before its old one was
// taken, an item done unprepared or twice, a take out of order.
class CheckedWork : public OrderedWork {
 public:
  CheckedWork(uint32_t members, uint32_t prepareFailsAt, uint32_t takeFailsAt)
      : slots_(OrderedWorkSlots(members)),
        inSlot_(slots_, Never),
        prepareFailsAt_(prepareFailsAt),
        takeFailsAt_(takeFailsAt) {}

  bool Prepare(uint32_t index, uint32_t slot) override {
    const std::lock_guard<std::mutex> hold(lock_);
    if (index != prepared_) Fault("prepared out of order", index);
    if (slot != index % slots_) Fault("prepared in a foreign slot", index);
    if (inSlot_[slot] != Never) Fault("prepared into a slot not yet taken", index);
    if (index == prepareFailsAt_) return false;
    inSlot_[slot] = index;
    ++prepared_;
    return true;
  }

  void Do(uint32_t index, uint32_t slot) override {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (slot >= slots_ || inSlot_[slot] != index) Fault("done unprepared", index);
      if (index < done_.size() && done_[index]) Fault("done twice", index);
      if (index >= done_.size()) done_.resize(index + 1, false);
    }
    // Every third item is slow, so that later ones finish first.
    if (index % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    const std::lock_guard<std::mutex> hold(lock_);
    done_[index] = true;
  }

  bool Take(uint32_t index, uint32_t slot) override {
    const std::lock_guard<std::mutex> hold(lock_);
    if (index != taken_) Fault("taken out of order", index);
    if (slot != index % slots_ || inSlot_[slot] != index) Fault("taken from a foreign slot", index);
    if (index >= done_.size() || !done_[index]) Fault("taken before it was done", index);
    inSlot_[slot] = Never;
    ++taken_;
    return index != takeFailsAt_;
  }

  uint32_t Taken() const { return taken_; }
  const std::string& Faults() const { return faults_; }

 private:
  void Fault(const char* what, uint32_t index) {
    faults_ += std::string(what) + " " + std::to_string(index) + "; ";
  }

  std::mutex lock_;
  uint32_t slots_;
  std::vector<uint32_t> inSlot_;
  std::vector<bool> done_;
  uint32_t prepared_ = 0, taken_ = 0;
  uint32_t prepareFailsAt_, takeFailsAt_;
  std::string faults_;
};

TEST(OrderedWorkTest, ItemsKeepTheirSlotsAndAreTakenInOrder) {
  struct Case {
    uint32_t count, members;
    int32_t startLimit;  // threads that may start; -1 for no limit
    uint32_t prepareFailsAt, takeFailsAt;
    bool finished;
    uint32_t taken;
  };
  const Case cases[] = {
      {0, 2, -1, Never, Never, true, 0},   {1, 4, -1, Never, Never, true, 1},
      {40, 1, -1, Never, Never, true, 40}, {40, 2, -1, Never, Never, true, 40},
      {40, 5, -1, Never, Never, true, 40}, {40, 8, 0, Never, Never, true, 40},
      {40, 8, 2, Never, Never, true, 40},  {40, 3, -1, 17, Never, false, 17},
      {40, 3, -1, 0, Never, false, 0},     {40, 3, -1, Never, 9, false, 10},
      {40, 3, 1, Never, 39, false, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.count) + ", members " + std::to_string(c.members) +
                 ", start limit " + std::to_string(c.startLimit));
    SetWorkerStartLimit(c.startLimit);
    CheckedWork work(c.members, c.prepareFailsAt, c.takeFailsAt);
    EXPECT_EQ(RunOrderedWork(&work, c.count, c.members), c.finished);
    SetWorkerStartLimit(-1);
    EXPECT_EQ(work.Taken(), c.taken);
    EXPECT_EQ(work.Faults(), "");
  }
}

}  // namespace
