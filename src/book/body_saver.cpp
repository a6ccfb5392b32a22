#include "book/body_saver.h"

#include "book/book_format.h"

namespace {

bool HasCounts(const JosekiTable* table) {
  if (table == nullptr || table->bucketCount < 0 || table->nodeCount < 0 || table->moveCount < 0) return false;
  return table->bucketCount == 0 || (table->bucketSizes != nullptr && table->buckets != nullptr);
}

}  // namespace

BodySaver::BodySaver(const JosekiTable* table) : table_(table), sortMoves_(false) {
  if (!HasCounts(table)) {
    phase_ = Phase::Refused;
    return;
  }
  size_ = RawHeaderSize + uint64_t{BucketRecordSize} * static_cast<uint32_t>(table->bucketCount) +
          uint64_t{NodeRecordSize} * static_cast<uint32_t>(table->nodeCount) +
          uint64_t{MoveRecordSize} * static_cast<uint32_t>(table->moveCount);
}

BodySaver::BodySaver(JosekiTable* table, bool sortMoves) : BodySaver(static_cast<const JosekiTable*>(table)) {
  sortMoves_ = sortMoves;
}

void BodySaver::StartWalk() {
  bucket_ = -1;
  node_ = nullptr;
}

// The node the walk stands at, passing over nodes without moves (they stand
// for no position) and over ended chains; null once every chain is walked.
JosekiNode* BodySaver::Current() {
  for (;;) {
    while (node_ != nullptr && node_->moveCount <= 0) node_ = node_->next;
    if (node_ != nullptr) return node_;
    if (bucket_ >= table_->bucketCount - 1) {
      bucket_ = table_->bucketCount;
      return nullptr;
    }
    node_ = table_->buckets[++bucket_];
  }
}

// The length of the next record; 0 when the phase has no more.
uint32_t BodySaver::NextLength() {
  switch (phase_) {
    case Phase::Header:
      return RawHeaderSize;
    case Phase::Buckets:
      return bucket_ < table_->bucketCount ? BucketRecordSize : 0;
    case Phase::Nodes:
      return Current() != nullptr ? NodeRecordSize : 0;
    case Phase::Moves: {
      const JosekiNode* node = Current();
      return node != nullptr ? MoveRecordSize * static_cast<uint32_t>(node->moveCount) : 0;
    }
    default:
      return 0;
  }
}

// Writes the record at hand and steps past it.
int32_t BodySaver::WriteNext(uint8_t* p) {
  switch (phase_) {
    case Phase::Header:
      StoreU32(p, static_cast<uint32_t>(table_->bucketCount));
      StoreU32(p + 4, static_cast<uint32_t>(table_->nodeCount));
      StoreU32(p + 8, static_cast<uint32_t>(table_->moveCount));
      phase_ = Phase::Buckets;
      bucket_ = 0;
      return SaveGoing;
    case Phase::Buckets: {
      const int32_t chainLength = table_->bucketSizes[bucket_++];
      if (chainLength < 0 || chainLength > MaxNodesPerBucket) return SaveRefused;
      StoreU32(p, firstNode_);
      StoreU16(p + 4, static_cast<uint32_t>(chainLength));
      firstNode_ += static_cast<uint32_t>(chainLength);
      return SaveGoing;
    }
    case Phase::Nodes:
      StoreU32(p, node_->key.low);
      StoreU32(p + 4, node_->key.high);
      StoreU32(p + 8, firstMove_);
      p[12] = static_cast<uint8_t>(node_->moveCount);
      firstMove_ += static_cast<uint32_t>(node_->moveCount);
      node_ = node_->next;
      return SaveGoing;
    case Phase::Moves:
      if (sortMoves_) SortNodeMoves(node_);
      StoreMoves(p, node_->moves, static_cast<size_t>(node_->moveCount));
      node_ = node_->next;
      return SaveGoing;
    default:
      return SaveRefused;
  }
}

int32_t BodySaver::Save(uint8_t* out, uint32_t room, uint32_t* written) {
  *written = 0;
  while (phase_ != Phase::Done && phase_ != Phase::Refused) {
    const uint32_t length = NextLength();
    if (length == 0) {  // the phase is through
      if (phase_ == Phase::Buckets) {
        phase_ = Phase::Nodes;
        StartWalk();
      } else if (phase_ == Phase::Nodes) {
        phase_ = Phase::Moves;
        StartWalk();
      } else {
        phase_ = written_ == size_ ? Phase::Done : Phase::Refused;
      }
      continue;
    }
    // A node the stored form cannot carry, or more bytes than the counts
    // give: the table cannot be stored.
    if ((phase_ == Phase::Nodes && node_->moveCount > MaxMovesPerNode) || written_ + length > size_) {
      phase_ = Phase::Refused;
      break;
    }
    if (length > room - *written) return SaveGoing;
    if (WriteNext(out + *written) != SaveGoing) {
      phase_ = Phase::Refused;
      break;
    }
    *written += length;
    written_ += length;
  }
  return phase_ == Phase::Done ? SaveDone : SaveRefused;
}
