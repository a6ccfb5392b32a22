#include "book/held_diff.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "book/diff_reader.h"

bool HeldDiff::Append(const PositionKey& key, const BookMove& move, uint64_t mostRecords) {
  if (count_ == capacity_) {
    if (capacity_ >= mostRecords) return false;
    const uint64_t larger =
        std::min<uint64_t>(capacity_ < 1024 ? 1024 : uint64_t{capacity_} * 2, mostRecords);
    std::unique_ptr<Record[]> grown(new (std::nothrow) Record[static_cast<size_t>(larger)]);
    if (!grown) return false;
    if (count_ > 0) memcpy(grown.get(), records_.get(), sizeof(Record) * count_);
    records_ = std::move(grown);
    capacity_ = static_cast<uint32_t>(larger);
  }
  records_[count_] = Record{0, count_, key, move};
  ++count_;
  return true;
}

bool HeldDiff::Read(ByteStream* package, uint64_t mostBytes) {
  // Also within what 32 bits count and what one block may take here.
  uint64_t mostRecords = mostBytes / sizeof(Record);
  if (mostRecords > 0xFFFFFFFFu / sizeof(Record)) mostRecords = 0xFFFFFFFFu / sizeof(Record);
  bool held = true;
  ReadBookDiff(package, [this, &held, mostRecords](const PositionKey& key, const BookMove& move) {
    if (held) held = Append(key, move, mostRecords);
  });
  return held;
}

void HeldDiff::Order(const JosekiTable& table) {
  if (table.bucketCount <= 0) return;
  for (uint32_t i = 0; i < count_; ++i) records_[i].bucket = BucketOf(table, records_[i].key);
  std::sort(records_.get(), records_.get() + count_, [](const Record& a, const Record& b) {
    return a.bucket != b.bucket ? a.bucket < b.bucket : a.order < b.order;
  });
}

bool HeldDiff::ApplyBelow(JosekiTable* table, uint32_t buckets) {
  const bool all = buckets >= static_cast<uint32_t>(table->bucketCount);
  for (; !refused_ && applied_ < count_ && (all || records_[applied_].bucket < buckets); ++applied_) {
    const Record& record = records_[applied_];
    refused_ = !ApplyDiffRecord(table, record.key, record.move);
  }
  return !refused_;
}
