// Numbered items of work done on several threads, their results taken in
// order: the chunks of a body being packed, the divisions of a book being
// merged.
//
// The caller's own thread is member 0 and does its items itself; up to
// members − 1 threads join it. Item i belongs to member i mod (the members
// that could be had), so each member holds at most one item not yet taken,
// and memory stays bounded by the number of members whatever the count.
// A thread that cannot be started means fewer members, never another result:
// the items are the same whoever does them.
#pragma once

#include <cstdint>

class OrderedWork {
 public:
  // On the caller's thread, in index order, before the item is handed to its
  // member: whatever must be read from a stream that only the caller may
  // touch. False ends the run at this item: the items before it are still
  // taken, in order, and the run then fails.
  virtual bool Prepare(uint32_t index, uint32_t member) = 0;
  // On the member's thread: the item's work, into the member's own state.
  virtual void Do(uint32_t index, uint32_t member) = 0;
  // On the caller's thread, strictly in index order, once the item is done:
  // takes its result out of the member's state. False ends the run.
  virtual bool Take(uint32_t index, uint32_t member) = 0;

 protected:
  ~OrderedWork() = default;
};

// Runs items 0 to count − 1 of `work` on at most `members` members. Returns
// true when every item was taken; false when Take ended the run or not even
// the caller's own member could be set up. Either way every thread has
// finished and been joined before it returns.
bool RunOrderedWork(OrderedWork* work, uint32_t count, uint32_t members);
