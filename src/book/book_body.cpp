#include "book/book_body.h"

#include <cstring>
#include <memory>
#include <new>

#include "book/body_loader.h"
#include "book/body_saver.h"
#include "book/book_format.h"
#include "stream/byte_stream.h"

namespace {

uint64_t ExactSize(uint64_t bucketCount, uint64_t nodeCount, uint64_t moveCount) {
  return RawHeaderSize + BucketRecordSize * bucketCount + NodeRecordSize * nodeCount +
         MoveRecordSize * moveCount;
}

constexpr size_t StagingSize = 64 * 1024;  // comfortably above one node's moves

// True when the stored form can carry every chain and every node: a table
// changed in memory may have passed its limits.
bool WithinStoredForm(const JosekiTable& table) {
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    if (table.bucketSizes[b] < 0 || table.bucketSizes[b] > MaxNodesPerBucket) return false;
    for (const JosekiNode* node = table.buckets[b]; node != nullptr; node = node->next) {
      if (node->moveCount > MaxMovesPerNode) return false;
    }
  }
  return true;
}

}  // namespace

uint32_t RawBodySize(uint32_t bucketCount, uint32_t nodeCount, uint32_t moveCount) {
  const uint64_t size = ExactSize(bucketCount, nodeCount, moveCount);
  return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

JosekiTable* LoadJosekiTable(const uint8_t* buffer, uint32_t size) {
  // The body is parsed where it lies; a memory stream over it would only
  // add a call per field.
  BodyLoader loader(buffer, size);
  if (loader.Feed(size) != LoadDone) return nullptr;
  return loader.Take().release();
}

JosekiTable* ReadJosekiTable(ByteStream* stream) {
  uint8_t header[RawHeaderSize];
  if (stream == nullptr || stream->Read(header, RawHeaderSize) != static_cast<int32_t>(RawHeaderSize))
    return nullptr;
  const uint64_t size = ExactSize(LoadU32(header), LoadU32(header + 4), LoadU32(header + 8));
  if (size > 0xFFFFFFFFu) return nullptr;

  // The header alone proves nothing about how much follows, so the body is
  // gathered in pieces no larger than what has already arrived: a stream
  // that ends early never causes more than twice its own size in memory.
  size_t capacity = 64 * 1024 < size ? 64 * 1024 : static_cast<size_t>(size);
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[capacity]);
  if (!body) return nullptr;
  memcpy(body.get(), header, RawHeaderSize);
  size_t have = RawHeaderSize;
  while (have < size) {
    if (have == capacity) {
      const size_t grown = size - capacity > capacity ? capacity * 2 : static_cast<size_t>(size);
      std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[grown]);
      if (!larger) return nullptr;
      memcpy(larger.get(), body.get(), have);
      body = std::move(larger);
      capacity = grown;
    }
    size_t piece = capacity - have;
    if (piece > 0x40000000u) piece = 0x40000000u;
    const int32_t got = stream->Read(body.get() + have, static_cast<int32_t>(piece));
    if (got != static_cast<int32_t>(piece)) return nullptr;
    have += piece;
  }
  return LoadJosekiTable(body.get(), static_cast<uint32_t>(size));
}

int32_t SaveJosekiTable(const JosekiTable* table, uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr) return -1;
  BodySaver saver(table);
  // A short buffer would silently lose the end of the body.
  if (saver.Size() == 0 || saver.Size() > size) return -1;
  uint32_t written = 0;
  return saver.Save(buffer, static_cast<uint32_t>(saver.Size()), &written) == SaveDone ? 0 : -1;
}

int32_t WriteJosekiTable(const JosekiTable* table, ByteStream* stream) {
  if (stream == nullptr) return -1;
  BodySaver saver(table);
  if (saver.Size() == 0) return -1;
  // Checked before the first byte goes out, so that a table the stored form
  // cannot carry leaves the stream as it was.
  if (!WithinStoredForm(*table)) return -1;
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[StagingSize]);
  if (!staging) return -1;
  for (;;) {
    uint32_t written = 0;
    const int32_t state = saver.Save(staging.get(), StagingSize, &written);
    if (written > 0 && stream->Write(staging.get(), static_cast<int32_t>(written)) != static_cast<int32_t>(written))
      return -1;
    if (state != SaveGoing) return state == SaveDone ? 0 : -1;
  }
}
