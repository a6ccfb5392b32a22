#include "book/book_merge.h"

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <new>

#include "book/book_body.h"
#include "book/joseki_table.h"
#include "stream/byte_stream.h"

namespace {

using Block = std::unique_ptr<uint8_t[]>;

// Sizes come from files; running out of memory must end the merge with a
// result, not with an exception or an absurd request.
Block Allocate(uint64_t size) {
  if (size > SIZE_MAX) return nullptr;
  return Block(new (std::nothrow) uint8_t[size == 0 ? 1 : static_cast<size_t>(size)]);
}

uint32_t LoadU32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void StoreU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Deflate cannot expand more than about 1032 to 1; a rawSize beyond that for
// its packedSize cannot be right, and is refused before it is allocated.
constexpr uint64_t MaxInflateRatio = 1032;
constexpr uint64_t MaxInflateSlack = 1024;

// The number of bytes between the stream's position and its end, or -1 when
// the stream cannot tell. The position is restored.
int64_t BytesLeft(ByteStream* stream) {
  const int32_t here = stream->Tell();
  if (here < 0 || stream->Seek(0, true) != 0) return -1;
  const int32_t end = stream->Tell();
  if (stream->Seek(here, false) != 0 || end < here) return -1;
  return static_cast<int64_t>(end) - here;
}

struct RawBody {
  Block bytes;
  uint32_t size = 0;
};

// Reads the old BookBody and unpacks it. False when the body is not all
// there or does not unpack to exactly its rawSize bytes.
bool ReadRawBody(ByteStream* oldFile, RawBody* raw) {
  uint8_t counts[8];
  if (oldFile->Read(counts, 8) != 8) return false;
  const uint32_t packedSize = LoadU32(counts);
  const uint32_t rawSize = LoadU32(counts + 4);
  const int64_t left = BytesLeft(oldFile);
  if (left < 0 || packedSize > left) return false;
  if (rawSize > packedSize * MaxInflateRatio + MaxInflateSlack) return false;

  Block packed = Allocate(packedSize);
  if (!packed) return false;
  if (oldFile->Read(packed.get(), static_cast<int32_t>(packedSize)) != static_cast<int32_t>(packedSize)) {
    return false;
  }
  raw->bytes = Allocate(rawSize);
  if (!raw->bytes) return false;
  uLongf rawLength = rawSize;
  if (uncompress(raw->bytes.get(), &rawLength, packed.get(), packedSize) != Z_OK) return false;
  if (rawLength != rawSize) return false;
  raw->size = rawSize;
  return true;
}

// Whole fields are read with Read, so that a list cut short by the end of the
// data is told apart from a field that holds 0xFFFFFFFF: a file stream fills
// missing bytes with 0xFF and a memory stream answers -1 for both.
bool ReadField(ByteStream* package, uint8_t* field, int32_t length) {
  return package->Read(field, length) == length;
}

bool IsTerminator(uint32_t low) { return low < 64 || low == 0xFFFFFFFF; }

// Applies the list through its terminator, in stream order. False when the
// table refused a put; the rest of the list is then read but not applied, so
// that the package still ends up behind the list.
bool ApplyBookDiff(ByteStream* package, JosekiTable* table) {
  bool refused = false;
  for (;;) {
    uint8_t field[8];
    if (!ReadField(package, field, 4)) break;
    PositionKey key;
    key.low = LoadU32(field);
    if (IsTerminator(key.low)) break;
    if (!ReadField(package, field, 4)) break;
    key.high = LoadU32(field);
    if (!ReadField(package, field, 1)) break;
    const int count = field[0];
    bool cut = false;
    for (int i = 0; i < count; ++i) {
      if (!ReadField(package, field, 8)) {
        cut = true;
        break;
      }
      if (refused) continue;
      BookMove move;
      move.code = static_cast<uint16_t>(field[0] | (field[1] << 8));
      move.aux = static_cast<uint16_t>(field[2] | (field[3] << 8));
      move.data = LoadU32(field + 4);
      if (move.aux == 0xFFFF && move.data == 0xFFFFFFFF) {
        RemoveMove(table, key, move);  // an absent move or position is no fault
      } else if (PutMove(table, key, move) == 0) {
        refused = true;
      }
    }
    if (cut) break;
  }
  return !refused;
}

// The packed block's room: the system's own rule, 0.2 % above the raw size
// plus 12 bytes, but never below what zlib itself asks for, so that compress
// cannot run short of room on a small body. 0 when it does not fit 32 bits.
uint32_t PackedCapacity(uint32_t size) {
  const double wanted = static_cast<double>(size) * 1.002 + 12.0;
  if (wanted >= 4294967040.0) return 0;
  uint64_t capacity = static_cast<uint64_t>(wanted);
  const uint64_t bound = compressBound(size);
  if (bound > capacity) capacity = bound;
  return capacity > 0xFFFFFF00u ? 0 : static_cast<uint32_t>(capacity);
}

// Sorts, serialises and compresses the table into one block that holds the
// whole new BookBody (its two counts and the packed bytes), destroying the
// table as soon as its raw form exists. False on any failure.
bool PackBody(JosekiTablePtr table, Block* body, uint32_t* bodyLength) {
  SortMoves(table.get());
  const uint32_t size = RawBodySize(static_cast<uint32_t>(table->bucketCount),
                                    static_cast<uint32_t>(table->nodeCount),
                                    static_cast<uint32_t>(table->moveCount));
  if (size == 0xFFFFFFFF) return false;
  Block raw = Allocate(size);
  if (!raw || SaveJosekiTable(table.get(), raw.get(), size) != 0) return false;
  table.reset();

  const uint32_t capacity = PackedCapacity(size);
  if (capacity == 0) return false;
  *body = Allocate(8 + static_cast<uint64_t>(capacity));
  if (!*body) return false;
  uLongf packedLength = capacity;
  if (compress(body->get() + 8, &packedLength, raw.get(), size) != Z_OK) return false;
  if (packedLength > 0x7FFFFFF7u) return false;  // a write takes a signed length
  StoreU32(body->get(), static_cast<uint32_t>(packedLength));
  StoreU32(body->get() + 4, size);
  *bodyLength = 8 + static_cast<uint32_t>(packedLength);
  return true;
}

}  // namespace

uint32_t MergeBookDiff(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  JosekiTablePtr table;
  {
    RawBody raw;
    if (!ReadRawBody(oldFile, &raw)) return MergeFailed;
    table.reset(LoadJosekiTable(raw.bytes.get(), raw.size));
  }  // the old raw bytes go before the table grows any further
  if (!table) return MergeFailed;

  if (!ApplyBookDiff(package, table.get())) return MergeFailed;

  // The whole new body exists in memory before the first byte goes out, so a
  // failure anywhere above leaves newFile untouched.
  Block body;
  uint32_t bodyLength = 0;
  if (!PackBody(std::move(table), &body, &bodyLength)) return MergeFailed;
  const int32_t written = newFile->Write(body.get(), static_cast<int32_t>(bodyLength));
  if (written != static_cast<int32_t>(bodyLength)) return MergeFailed;
  return bodyLength;
}
