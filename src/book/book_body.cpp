#include "book/book_body.h"

#include <cstring>
#include <memory>
#include <new>

#include "stream/byte_stream.h"

const uint8_t BookFileMagic[8] = {'J', 'o', 'S', 'e', 'K', 'i', '5', 0};

namespace {

// Move records are BookMove exactly as it lies in memory on a little-endian
// host, so there whole runs of them are copied at once.
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_WIN32)
constexpr bool HostIsLittleEndian = true;
#else
constexpr bool HostIsLittleEndian = false;
#endif

void GetMoves(BookMove* moves, const uint8_t* records, size_t count) {
  if (HostIsLittleEndian) {
    if (count > 0) memcpy(moves, records, count * MoveRecordSize);
    return;
  }
  for (size_t i = 0; i < count; ++i, records += MoveRecordSize) {
    moves[i].code = static_cast<uint16_t>(LoadU16(records));
    moves[i].aux = static_cast<uint16_t>(LoadU16(records + 2));
    moves[i].data = LoadU32(records + 4);
  }
}

void SetMoves(uint8_t* records, const BookMove* moves, size_t count) {
  if (HostIsLittleEndian) {
    if (count > 0) memcpy(records, moves, count * MoveRecordSize);
    return;
  }
  for (size_t i = 0; i < count; ++i, records += MoveRecordSize) {
    StoreU16(records, moves[i].code);
    StoreU16(records + 2, moves[i].aux);
    StoreU32(records + 4, moves[i].data);
  }
}

uint64_t ExactSize(uint64_t bucketCount, uint64_t nodeCount, uint64_t moveCount) {
  return RawHeaderSize + BucketRecordSize * bucketCount + NodeRecordSize * nodeCount +
         MoveRecordSize * moveCount;
}

// Frees a table whose chains are not complete yet: every node it has so far
// lies in its node block, so nothing needs walking.
void DiscardLoading(JosekiTable* table) {
  delete[] table->bucketSizes;
  delete[] table->buckets;
  delete[] table->nodeBlock;
  delete[] table->moveBlock;
  delete table;
}

// How much of the body may be read: all of it, or what has arrived so far.
class BodyReach {
 public:
  BodyReach(uint32_t size, BodyArrival* arrival) : arrival_(arrival), reach_(arrival ? 0 : size) {}

  // True once the first `end` bytes are there.
  bool Covers(uint64_t end) {
    if (end <= reach_) return true;
    reach_ = arrival_->AwaitBytes(static_cast<uint32_t>(end));
    return end <= reach_;
  }
  // The bytes known to be there.
  uint64_t Reach() const { return reach_; }

 private:
  BodyArrival* arrival_;
  uint64_t reach_;
};

// Follows the move block as it fills: a bucket is whole once the moves of
// its last node are in. It looks only at buckets not yet reported whole,
// which nobody but the loading has touched.
class WholeBuckets {
 public:
  explicit WholeBuckets(const JosekiTable& table) : table_(table) {}

  // The buckets that are whole once the first `movesIn` moves are in.
  uint32_t Through(uint64_t movesIn) {
    const uint32_t bucketCount = static_cast<uint32_t>(table_.bucketCount);
    while (next_ < bucketCount) {
      const int32_t chainLength = table_.bucketSizes[next_];
      if (chainLength > 0) {
        // A chain's nodes lie one after the other in the node block.
        const JosekiNode& last = table_.nodeBlock[node_ + static_cast<uint32_t>(chainLength) - 1];
        const uint64_t end =
            static_cast<uint64_t>(last.moves - table_.moveBlock) + static_cast<uint64_t>(last.moveCount);
        if (end > movesIn) break;
        node_ += static_cast<uint32_t>(chainLength);
      }
      ++next_;
    }
    return next_;
  }

 private:
  const JosekiTable& table_;
  uint32_t next_ = 0;  // the first bucket not yet whole
  uint32_t node_ = 0;  // its first node's place in the node block
};

// Builds a table from a raw body, reading each part once it has arrived. The
// size must be exactly what the header's counts give, so every allocation
// below is a fixed multiple of the body's own size and every record index
// stays inside the body.
JosekiTable* ParseBody(const uint8_t* body, uint32_t size, BodyArrival* arrival) {
  if (body == nullptr || size < RawHeaderSize) return nullptr;
  BodyReach reach(size, arrival);
  if (!reach.Covers(RawHeaderSize)) return nullptr;
  const uint32_t bucketCount = LoadU32(body);
  const uint32_t nodeCount = LoadU32(body + 4);
  const uint32_t moveCount = LoadU32(body + 8);
  if (ExactSize(bucketCount, nodeCount, moveCount) != size) return nullptr;
  // With the size below 2^32 each count is now below 2^31.

  const uint8_t* bucketRecords = body + RawHeaderSize;
  const uint8_t* nodeRecords = bucketRecords + size_t{BucketRecordSize} * bucketCount;
  const uint8_t* moveRecords = nodeRecords + size_t{NodeRecordSize} * nodeCount;

  if (!reach.Covers(static_cast<uint64_t>(nodeRecords - body))) return nullptr;
  uint64_t listed = 0;
  for (uint32_t b = 0; b < bucketCount; ++b)
    listed += LoadU16(bucketRecords + BucketRecordSize * size_t{b} + 4);
  if (listed != nodeCount) return nullptr;

  // A 32-bit host cannot even address what a huge body asks for: no object
  // may be larger than PTRDIFF_MAX. (Compared in 64 bits, where a 64-bit host
  // never refuses.)
  const uint64_t most = PTRDIFF_MAX;
  // The bucket array holds chain heads, pointers: sizeof(JosekiNode*) is meant.
  const uint64_t bucketBytes =
      uint64_t{bucketCount} * sizeof(JosekiNode*);  // NOLINT(bugprone-sizeof-expression)
  if (bucketBytes > most || uint64_t{nodeCount} * sizeof(JosekiNode) > most ||
      uint64_t{moveCount} * sizeof(BookMove) > most) {
    return nullptr;
  }

  JosekiTable* table = new (std::nothrow) JosekiTable{};
  if (table == nullptr) return nullptr;
  table->bucketCount = static_cast<int32_t>(bucketCount);
  table->nodeCount = static_cast<int32_t>(nodeCount);
  table->moveCount = static_cast<int32_t>(moveCount);
  bool allocated = true;
  if (bucketCount > 0) {
    table->bucketSizes = new (std::nothrow) int32_t[bucketCount];
    table->buckets = new (std::nothrow) JosekiNode*[bucketCount];
    allocated = table->bucketSizes != nullptr && table->buckets != nullptr;
  }
  if (allocated && nodeCount > 0) {
    table->nodeBlock = new (std::nothrow) JosekiNode[nodeCount];
    table->nodeBlockSize = static_cast<int32_t>(nodeCount);
    allocated = table->nodeBlock != nullptr;
  }
  if (allocated && moveCount > 0) {
    table->moveBlock = new (std::nothrow) BookMove[moveCount];
    table->moveBlockSize = static_cast<int32_t>(moveCount);
    allocated = table->moveBlock != nullptr;
  }
  if (!allocated) {
    DiscardLoading(table);
    return nullptr;
  }

  // The move records run in node order, so the node block and the move block
  // fill in step; a node takes the next moveCount entries of the move block.
  uint32_t record = 0;  // node records read
  uint32_t kept = 0;    // nodes placed in the block
  uint32_t movesTaken = 0;
  for (uint32_t b = 0; b < bucketCount; ++b) {
    const uint32_t listedHere = LoadU16(bucketRecords + BucketRecordSize * size_t{b} + 4);
    JosekiNode** tail = &table->buckets[b];
    int32_t chainLength = 0;
    for (uint32_t i = 0; i < listedHere; ++i, ++record) {
      const uint8_t* p = nodeRecords + NodeRecordSize * size_t{record};
      if (!reach.Covers(static_cast<uint64_t>(p + NodeRecordSize - body))) {
        DiscardLoading(table);
        return nullptr;
      }
      const uint32_t count = p[12];
      if (count > moveCount - movesTaken) {
        DiscardLoading(table);
        return nullptr;
      }
      // A record without moves stands for no position: it is left out, and
      // the counts below say so, so that a save writes what it counts.
      if (count == 0) continue;
      JosekiNode* node = &table->nodeBlock[kept++];
      node->key.low = LoadU32(p);
      node->key.high = LoadU32(p + 4);
      node->moveCount = static_cast<int32_t>(count);
      node->moves = table->moveBlock + movesTaken;
      movesTaken += count;
      *tail = node;
      tail = &node->next;
      ++chainLength;
    }
    *tail = nullptr;
    table->bucketSizes[b] = chainLength;
  }
  if (movesTaken != moveCount) {
    DiscardLoading(table);
    return nullptr;
  }
  table->nodeCount = static_cast<int32_t>(kept);
  // The move records are copied as many at a time as have come. Every chain
  // is complete from here on, so a failure frees the table as a whole,
  // whatever was done with the buckets handed over.
  const uint64_t movesAt = static_cast<uint64_t>(moveRecords - body);
  WholeBuckets whole(*table);
  for (uint64_t copied = 0; copied < moveCount;) {
    if (!reach.Covers(movesAt + (copied + 1) * MoveRecordSize)) {
      DestroyJosekiTable(table);
      return nullptr;
    }
    uint64_t come = (reach.Reach() - movesAt) / MoveRecordSize;
    if (come > moveCount) come = moveCount;
    GetMoves(table->moveBlock + copied, moveRecords + copied * MoveRecordSize,
             static_cast<size_t>(come - copied));
    copied = come;
    if (arrival != nullptr && copied < moveCount) arrival->BucketsLoaded(table, whole.Through(copied));
  }
  if (arrival != nullptr) arrival->BucketsLoaded(table, bucketCount);
  return table;
}

// Serialises into a window of memory. With no sink the window is the whole
// output; with a sink the window is a staging buffer written out whenever it
// fills. Any shortfall is remembered and ends the writing.
class BodyWriter {
 public:
  BodyWriter(uint8_t* window, size_t windowSize, ByteStream* sink, SaveProgress* progress = nullptr)
      : start(window), out(window), end(window + windowSize), sink(sink), progress(progress) {}

  // Room for `length` more bytes at the returned place, or null on failure.
  // Every place handed out before is written by now.
  uint8_t* Take(size_t length) {
    if (progress != nullptr && written - reported >= SaveProgressStep) {
      progress->Saved(static_cast<uint32_t>(written));
      reported = written;
    }
    if (static_cast<size_t>(end - out) < length && (!Flush() || static_cast<size_t>(end - out) < length)) {
      failed = true;
      return nullptr;
    }
    uint8_t* place = out;
    out += length;
    written += length;
    return place;
  }

  bool Flush() {
    if (failed || sink == nullptr) return false;
    const int32_t length = static_cast<int32_t>(out - start);
    if (length > 0 && sink->Write(start, length) != length) failed = true;
    out = start;
    return !failed;
  }

  uint64_t Written() const { return written; }

 private:
  uint8_t* start;
  uint8_t* out;
  uint8_t* end;
  ByteStream* sink;
  SaveProgress* progress;
  uint64_t written = 0;
  uint64_t reported = 0;  // what progress was last told
  bool failed = false;
};

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

// Writes the body, stopping at the first record the stored form cannot carry.
// True when every record was written. With `sortMoves`, each node's moves are
// sorted as SortMoves sorts them just before they are written.
bool WriteBody(const JosekiTable& table, BodyWriter& writer, bool sortMoves = false) {
  if (table.bucketCount < 0 || table.nodeCount < 0 || table.moveCount < 0) return false;
  if (table.bucketCount > 0 && (table.bucketSizes == nullptr || table.buckets == nullptr)) return false;
  uint8_t* p = writer.Take(RawHeaderSize);
  if (p == nullptr) return false;
  StoreU32(p, static_cast<uint32_t>(table.bucketCount));
  StoreU32(p + 4, static_cast<uint32_t>(table.nodeCount));
  StoreU32(p + 8, static_cast<uint32_t>(table.moveCount));

  uint32_t firstNode = 0;
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    const int32_t chainLength = table.bucketSizes[b];
    if (chainLength < 0 || chainLength > MaxNodesPerBucket) return false;
    if ((p = writer.Take(BucketRecordSize)) == nullptr) return false;
    StoreU32(p, firstNode);
    StoreU16(p + 4, static_cast<uint32_t>(chainLength));
    firstNode += static_cast<uint32_t>(chainLength);
  }

  uint32_t firstMove = 0;
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    for (const JosekiNode* node = table.buckets[b]; node != nullptr; node = node->next) {
      if (node->moveCount <= 0) continue;
      if (node->moveCount > MaxMovesPerNode) return false;
      if ((p = writer.Take(NodeRecordSize)) == nullptr) return false;
      StoreU32(p, node->key.low);
      StoreU32(p + 4, node->key.high);
      StoreU32(p + 8, firstMove);
      p[12] = static_cast<uint8_t>(node->moveCount);
      firstMove += static_cast<uint32_t>(node->moveCount);
    }
  }

  for (int32_t b = 0; b < table.bucketCount; ++b) {
    for (JosekiNode* node = table.buckets[b]; node != nullptr; node = node->next) {
      if (node->moveCount <= 0) continue;
      if (sortMoves) SortNodeMoves(node);
      const size_t count = static_cast<size_t>(node->moveCount);
      if ((p = writer.Take(count * MoveRecordSize)) == nullptr) return false;
      SetMoves(p, node->moves, count);
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
  return ParseBody(buffer, size, nullptr);
}

JosekiTable* LoadArrivingJosekiTable(const uint8_t* buffer, uint32_t size, BodyArrival* arrival) {
  return ParseBody(buffer, size, arrival);
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
  return ParseBody(body.get(), static_cast<uint32_t>(size), nullptr);
}

namespace {

int32_t SaveIntoBuffer(const JosekiTable* table, uint8_t* buffer, uint32_t size, bool sortMoves,
                       SaveProgress* progress) {
  if (table == nullptr || buffer == nullptr) return -1;
  if (table->bucketCount < 0 || table->nodeCount < 0 || table->moveCount < 0) return -1;
  const uint64_t needed =
      ExactSize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                static_cast<uint32_t>(table->moveCount));
  // A short buffer would silently lose the end of the body.
  if (needed > size) return -1;
  BodyWriter writer(buffer, static_cast<size_t>(needed), nullptr, progress);
  if (!WriteBody(*table, writer, sortMoves) || writer.Written() != needed) return -1;
  if (progress != nullptr) progress->Saved(static_cast<uint32_t>(needed));
  return 0;
}

}  // namespace

int32_t SaveJosekiTable(const JosekiTable* table, uint8_t* buffer, uint32_t size) {
  return SaveIntoBuffer(table, buffer, size, false, nullptr);
}

int32_t SaveSortedJosekiTable(JosekiTable* table, uint8_t* buffer, uint32_t size, SaveProgress* progress) {
  return SaveIntoBuffer(table, buffer, size, true, progress);
}

int32_t WriteJosekiTable(const JosekiTable* table, ByteStream* stream) {
  if (table == nullptr || stream == nullptr) return -1;
  if (table->bucketCount < 0 || table->nodeCount < 0 || table->moveCount < 0) return -1;
  if (table->bucketCount > 0 && (table->bucketSizes == nullptr || table->buckets == nullptr)) return -1;
  // Checked before the first byte goes out, so that a table the stored form
  // cannot carry leaves the stream as it was.
  if (!WithinStoredForm(*table)) return -1;
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[StagingSize]);
  if (!staging) return -1;
  BodyWriter writer(staging.get(), StagingSize, stream);
  const bool complete = WriteBody(*table, writer) && writer.Flush();
  const uint64_t needed =
      ExactSize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                static_cast<uint32_t>(table->moveCount));
  return complete && writer.Written() == needed ? 0 : -1;
}
