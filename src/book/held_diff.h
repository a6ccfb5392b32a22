// A BookDiff list held whole in memory, so that it can be applied to a table
// one bucket after the other while the rest of the table is still loading.
//
// A record changes only the chain of its key's bucket and adds to or takes
// from the table's counts, so records of different buckets do not meet:
// applied bucket by bucket, each bucket's records in the order of the list,
// they leave exactly the table that the list's own order leaves.
#pragma once

#include <cstdint>
#include <memory>

#include "book/joseki_table.h"

class ByteStream;

class HeldDiff {
 public:
  // Reads the list that the package stands at through its terminator, as a
  // merge reads it. False when the records would take more than `mostBytes`
  // of memory, or memory runs out; the package then stands somewhere inside
  // the list.
  bool Read(ByteStream* package, uint64_t mostBytes);

  // Puts the records in the order of their buckets in the table, each
  // bucket's in the order of the list. With no buckets the list keeps its
  // order.
  void Order(const JosekiTable& table);

  // Applies, in order, the records not yet applied whose buckets lie below
  // `buckets`; every one left once `buckets` is the table's bucket count.
  // False once the table has refused a put; nothing more is applied then.
  bool ApplyBelow(JosekiTable* table, uint32_t buckets);

 private:
  struct Record {
    uint32_t bucket;
    uint32_t order;  // place in the list
    PositionKey key;
    BookMove move;
  };

  bool Append(const PositionKey& key, const BookMove& move, uint64_t mostRecords);

  std::unique_ptr<Record[]> records_;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  uint32_t applied_ = 0;
  bool refused_ = false;
};
