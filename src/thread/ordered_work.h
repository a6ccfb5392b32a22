// Numbered items of work done on several threads, their results taken in
// order: the chunks of a body being packed, the divisions of a book being
// merged.
//
// The caller's own thread is one of the members: besides preparing and
// taking every item, it does items itself whenever it would otherwise wait.
// Whichever member is free does the next prepared item, so a slow item holds
// up no other member. Each item lives in a slot (its index modulo the slot
// count) from Prepare to Take; an item is prepared only once the item before
// it in its slot was taken, so memory stays bounded by the slots whatever the
// count. A thread that cannot be started means fewer members, never another
// result: the items are the same whoever does them.
#pragma once

#include <cstdint>

class OrderedWork {
 public:
  // On the caller's thread, in index order, before any member may do the
  // item: whatever must be read from a stream that only the caller may
  // touch. False ends the run at this item: the items before it are still
  // taken, in order, and the run then fails.
  virtual bool Prepare(uint32_t index, uint32_t slot) = 0;
  // On any member's thread: the item's work, into the slot's own state.
  virtual void Do(uint32_t index, uint32_t slot) = 0;
  // On the caller's thread, strictly in index order, once the item is done:
  // takes its result out of the slot. False ends the run.
  virtual bool Take(uint32_t index, uint32_t slot) = 0;

 protected:
  ~OrderedWork() = default;
};

// The slots a run on `members` members uses: one when the caller works
// alone, so that it prepares an item only once the one before is taken;
// otherwise one more than the members, so that a member finding the oldest
// item still in another's hands has one more to go on with, while a
// division's memory is held by hardly more divisions than threads.
uint32_t OrderedWorkSlots(uint32_t members);

// Runs items 0 to count − 1 of `work` on at most `members` members, using
// OrderedWorkSlots(members) slots. Returns true when every item was taken;
// false when Take ended the run or not even the caller's own place could be
// set up. Either way every thread has finished and been joined before it
// returns.
bool RunOrderedWork(OrderedWork* work, uint32_t count, uint32_t members);
