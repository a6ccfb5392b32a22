#include "book/body_loader.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "book/book_format.h"

namespace {

// Frees a table whose chains are not complete yet: every node it has so far
// lies in its node block, so nothing needs walking.
void DiscardLoading(JosekiTable* table) {
  delete[] table->bucketSizes;
  delete[] table->buckets;
  delete[] table->nodeBlock;
  delete[] table->moveBlock;
  delete table;
}

}  // namespace

BodyLoader::~BodyLoader() {
  if (table_ == nullptr) return;
  // Once the moves are being copied every chain is complete, and the whole
  // buckets may hold nodes of their own: the table is freed as a whole.
  if (phase_ == Phase::Moves || phase_ == Phase::Done) {
    DestroyJosekiTable(table_);
  } else {
    DiscardLoading(table_);
  }
}

JosekiTablePtr BodyLoader::Take() {
  if (phase_ != Phase::Done) return nullptr;
  JosekiTable* table = table_;
  table_ = nullptr;
  phase_ = Phase::Failed;  // nothing more to feed
  return JosekiTablePtr(table);
}

int32_t BodyLoader::Fail() {
  if (table_ != nullptr) {
    if (phase_ == Phase::Moves) {
      DestroyJosekiTable(table_);
    } else {
      DiscardLoading(table_);
    }
    table_ = nullptr;
  }
  phase_ = Phase::Failed;
  return LoadFailed;
}

int32_t BodyLoader::Feed(uint32_t arrived) {
  if (arrived > size_) arrived = size_;
  // Each step goes as far as the bytes allow and hands on once it is through.
  for (;;) {
    const Phase before = phase_;
    int32_t state = LoadGoing;
    switch (phase_) {
      case Phase::Header:
        state = ReadHeader(arrived);
        break;
      case Phase::Buckets:
        state = ReadBuckets(arrived);
        break;
      case Phase::Nodes:
        state = ReadNodes(arrived);
        break;
      case Phase::Moves:
        state = ReadMoves(arrived);
        break;
      case Phase::Done:
        return LoadDone;
      case Phase::Failed:
        return LoadFailed;
    }
    if (state != LoadGoing || phase_ == before) return state;
  }
}

// The size must be exactly what the header's counts give, so every
// allocation below is a fixed multiple of the body's own size and every
// record index stays inside the body.
int32_t BodyLoader::ReadHeader(uint32_t arrived) {
  if (body_ == nullptr || size_ < RawHeaderSize) return Fail();
  if (arrived < RawHeaderSize) return LoadGoing;
  bucketCount_ = LoadU32(body_);
  nodeCount_ = LoadU32(body_ + 4);
  moveCount_ = LoadU32(body_ + 8);
  const uint64_t exact = RawHeaderSize + uint64_t{BucketRecordSize} * bucketCount_ +
                         uint64_t{NodeRecordSize} * nodeCount_ + uint64_t{MoveRecordSize} * moveCount_;
  if (exact != size_) return Fail();
  // With the size below 2^32 each count is now below 2^31.
  bucketRecords_ = body_ + RawHeaderSize;
  nodeRecords_ = bucketRecords_ + size_t{BucketRecordSize} * bucketCount_;
  moveRecords_ = nodeRecords_ + size_t{NodeRecordSize} * nodeCount_;
  phase_ = Phase::Buckets;
  return LoadGoing;
}

int32_t BodyLoader::ReadBuckets(uint32_t arrived) {
  if (arrived < static_cast<uint64_t>(nodeRecords_ - body_)) return LoadGoing;
  uint64_t listed = 0;
  for (uint32_t b = 0; b < bucketCount_; ++b) listed += LoadU16(bucketRecords_ + BucketRecordSize * size_t{b} + 4);
  if (listed != nodeCount_) return Fail();
  if (!Allocate()) return Fail();
  phase_ = Phase::Nodes;
  return LoadGoing;
}

bool BodyLoader::Allocate() {
  // A 32-bit host cannot even address what a huge body asks for: no object
  // may be larger than PTRDIFF_MAX. (Compared in 64 bits, where a 64-bit host
  // never refuses.)
  const uint64_t most = PTRDIFF_MAX;
  // The bucket array holds chain heads, pointers: sizeof(JosekiNode*) is meant.
  const uint64_t bucketBytes =
      uint64_t{bucketCount_} * sizeof(JosekiNode*);  // NOLINT(bugprone-sizeof-expression)
  if (bucketBytes > most || uint64_t{nodeCount_} * sizeof(JosekiNode) > most ||
      uint64_t{moveCount_} * sizeof(BookMove) > most) {
    return false;
  }
  table_ = new (std::nothrow) JosekiTable{};
  if (table_ == nullptr) return false;
  table_->bucketCount = static_cast<int32_t>(bucketCount_);
  table_->nodeCount = static_cast<int32_t>(nodeCount_);
  table_->moveCount = static_cast<int32_t>(moveCount_);
  bool allocated = true;
  if (bucketCount_ > 0) {
    table_->bucketSizes = new (std::nothrow) int32_t[bucketCount_];
    table_->buckets = new (std::nothrow) JosekiNode*[bucketCount_];
    allocated = table_->bucketSizes != nullptr && table_->buckets != nullptr;
  }
  if (allocated && nodeCount_ > 0) {
    table_->nodeBlock = new (std::nothrow) JosekiNode[nodeCount_];
    table_->nodeBlockSize = static_cast<int32_t>(nodeCount_);
    allocated = table_->nodeBlock != nullptr;
  }
  if (allocated && moveCount_ > 0) {
    table_->moveBlock = new (std::nothrow) BookMove[moveCount_];
    table_->moveBlockSize = static_cast<int32_t>(moveCount_);
    allocated = table_->moveBlock != nullptr;
  }
  return allocated;
}

// The move records run in node order, so the node block and the move block
// fill in step; a node takes the next moveCount entries of the move block.
int32_t BodyLoader::ReadNodes(uint32_t arrived) {
  while (bucket_ < bucketCount_) {
    if (tail_ == nullptr) {  // a new bucket
      listedHere_ = LoadU16(bucketRecords_ + BucketRecordSize * size_t{bucket_} + 4);
      readInBucket_ = 0;
      tail_ = &table_->buckets[bucket_];
      chainLength_ = 0;
    }
    for (; readInBucket_ < listedHere_; ++readInBucket_, ++record_) {
      const uint8_t* p = nodeRecords_ + NodeRecordSize * size_t{record_};
      if (static_cast<uint64_t>(p + NodeRecordSize - body_) > arrived) return LoadGoing;
      const uint32_t count = p[12];
      if (count > moveCount_ - movesTaken_) return Fail();
      // A record without moves stands for no position: it is left out, and
      // the counts below say so, so that a save writes what it counts.
      if (count == 0) continue;
      JosekiNode* node = &table_->nodeBlock[kept_++];
      node->key.low = LoadU32(p);
      node->key.high = LoadU32(p + 4);
      node->moveCount = static_cast<int32_t>(count);
      node->moves = table_->moveBlock + movesTaken_;
      movesTaken_ += count;
      *tail_ = node;
      tail_ = &node->next;
      ++chainLength_;
    }
    *tail_ = nullptr;
    table_->bucketSizes[bucket_] = chainLength_;
    tail_ = nullptr;
    ++bucket_;
  }
  if (movesTaken_ != moveCount_) return Fail();
  table_->nodeCount = static_cast<int32_t>(kept_);
  phase_ = Phase::Moves;
  return LoadGoing;
}

// The move records are copied as many at a time as have come.
int32_t BodyLoader::ReadMoves(uint32_t arrived) {
  const uint64_t movesAt = static_cast<uint64_t>(moveRecords_ - body_);
  uint64_t come = arrived > movesAt ? (arrived - movesAt) / MoveRecordSize : 0;
  if (come > moveCount_) come = moveCount_;
  if (come > copied_) {
    LoadMoves(table_->moveBlock + copied_, moveRecords_ + copied_ * MoveRecordSize,
             static_cast<size_t>(come - copied_));
    copied_ = come;
  }
  if (copied_ < moveCount_) {
    whole_ = WholeThrough(copied_);
    return LoadGoing;
  }
  whole_ = bucketCount_;
  phase_ = Phase::Done;
  return LoadDone;
}

// A bucket is whole once the moves of its last node are in. Only buckets not
// yet reported whole are looked at, which nobody but the loading has touched.
uint32_t BodyLoader::WholeThrough(uint64_t movesIn) {
  while (whole_ < bucketCount_) {
    const int32_t chainLength = table_->bucketSizes[whole_];
    if (chainLength > 0) {
      // A chain's nodes lie one after the other in the node block.
      const JosekiNode& last = table_->nodeBlock[wholeNode_ + static_cast<uint32_t>(chainLength) - 1];
      const uint64_t end =
          static_cast<uint64_t>(last.moves - table_->moveBlock) + static_cast<uint64_t>(last.moveCount);
      if (end > movesIn) break;
      wholeNode_ += static_cast<uint32_t>(chainLength);
    }
    ++whole_;
  }
  return whole_;
}
