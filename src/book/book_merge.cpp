#include "book/book_merge.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "book/arriving_load.h"
#include "book/book_body.h"
#include "book/book_format.h"
#include "book/diff_reader.h"
#include "book/joseki_table.h"
#include "book/parallel_deflate.h"
#include "book/table_packing.h"
#include "stream/byte_stream.h"

namespace {

// Room above MaxInflateRatio for the stream's own header and end.
constexpr uint64_t MaxInflateSlack = 1024;

// The old packed bytes are read and unpacked a piece at a time.
constexpr uint32_t ReadChunk = 256 * 1024;

// The number of bytes between the stream's position and its end, or -1 when
// the stream cannot tell. The position is restored.
int64_t BytesLeft(ByteStream* stream) {
  const int32_t here = stream->Tell();
  if (here < 0 || stream->Seek(0, true) != 0) return -1;
  const int32_t end = stream->Tell();
  if (stream->Seek(here, false) != 0 || end < here) return -1;
  return static_cast<int64_t>(end) - here;
}

struct InflateEnd {
  void operator()(z_stream* z) const { inflateEnd(z); }
};

// The raw body: the old one first, then the new one in the same block when it
// fits.
using RawBlock = ByteBlock;

// The block the old body is unpacked into. A rawSize is only a claim until
// the zlib stream bears it out, so the first block is no larger than a
// generous ratio of the packed bytes really present; it doubles while the
// stream keeps giving, up to the room wanted. Books pack far less tightly, so
// a real one below 256 MiB is unpacked into its first block.
constexpr uint64_t FirstBlockRatio = 16;
constexpr uint64_t FirstBlockLeast = 1024 * 1024;
constexpr uint64_t FirstBlockMost = 256 * 1024 * 1024;

// Room for a new body somewhat larger than the old one.
uint64_t RoomFor(uint32_t rawSize) { return uint64_t{rawSize} + rawSize / 8 + 4096; }

// Makes room for more output once the block is full and the stream has not
// yet given rawSize bytes; false when the room cannot be had.
bool MakeRoom(z_stream* z, uint32_t rawSize, RawBlock* raw) {
  const uint64_t produced = z->total_out;
  uint64_t size = raw->capacity * 2;
  if (size > RoomFor(rawSize)) size = RoomFor(rawSize);
  if (size > raw->capacity && !raw->Grow(size, produced)) {
    // Without the room for a new body, what the old one needs will do.
    if (size <= rawSize || !raw->Grow(rawSize, produced)) return false;
  }
  z->next_out = raw->bytes.get() + produced;
  // Never more room than rawSize allows, so a stream that gives more fails.
  const uint64_t limit = raw->capacity < rawSize ? raw->capacity : rawSize;
  z->avail_out = static_cast<uInt>(limit - produced);
  return true;
}

// Reads the old BookBody and unpacks it into `raw`, straight from the file
// without holding its packed bytes. Returns the raw size, or 0 when the body
// is not all there or its zlib stream does not unpack to exactly rawSize
// bytes (a raw body is never empty). Like uncompress, it accepts any valid
// zlib stream and passes over bytes behind the stream's end; oldFile ends up
// behind the whole body either way.
//
// With `load`, the body is loaded on its thread as it unpacks, when the first
// block already has room for all of it (no block moves under the loader).
uint32_t ReadRawBody(ByteStream* oldFile, RawBlock* raw, ArrivingLoad* load) {
  uint8_t counts[8];
  if (oldFile->Read(counts, 8) != 8) return 0;
  const uint32_t packedSize = LoadU32(counts);
  const uint32_t rawSize = LoadU32(counts + 4);
  const int64_t left = BytesLeft(oldFile);
  if (left < 0 || packedSize > left) return 0;
  if (rawSize == 0 || rawSize > packedSize * MaxInflateRatio + MaxInflateSlack) return 0;

  uint64_t first = packedSize * FirstBlockRatio;
  if (first < FirstBlockLeast) first = FirstBlockLeast;
  if (first > FirstBlockMost) first = FirstBlockMost;
  if (first > RoomFor(rawSize)) first = RoomFor(rawSize);
  if (!raw->Reserve(first)) return 0;
  Block chunk = AllocateBlock(ReadChunk);
  if (!chunk) return 0;

  z_stream z = {};
  if (inflateInit(&z) != Z_OK) return 0;
  const std::unique_ptr<z_stream, InflateEnd> ending(&z);
  z.next_out = raw->bytes.get();
  z.avail_out = static_cast<uInt>(raw->capacity < rawSize ? raw->capacity : rawSize);
  if (load != nullptr && (raw->capacity < rawSize || !load->Start(raw->bytes.get(), rawSize))) load = nullptr;
  int status = Z_OK;
  for (uint32_t unread = packedSize; unread > 0;) {
    const uint32_t length = unread < ReadChunk ? unread : ReadChunk;
    if (oldFile->Read(chunk.get(), static_cast<int32_t>(length)) != static_cast<int32_t>(length)) return 0;
    unread -= length;
    z.next_in = chunk.get();
    z.avail_in = length;
    // Z_BUF_ERROR means no progress: the stream has more to give than
    // rawSize bytes.
    while (z.avail_in > 0 && status != Z_STREAM_END) {
      if (z.avail_out == 0 && z.total_out < rawSize && !MakeRoom(&z, rawSize, raw)) return 0;
      status = inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) return 0;
      if (load != nullptr) load->Unpacked(static_cast<uint32_t>(z.total_out));
    }
  }
  return status == Z_STREAM_END && z.total_out == rawSize ? rawSize : 0;
}

// Applies the list through its terminator, in stream order. False when the
// table refused a put (no buckets, or no memory); the rest of the list is
// then read but not applied, so that the package still ends up behind the
// list. The stored form's limits are no reason to refuse: they apply to the
// table the whole list leaves, when it is saved.
bool ApplyBookDiff(ByteStream* package, JosekiTable* table) {
  bool refused = false;
  ReadBookDiff(package, [table, &refused](const PositionKey& key, const BookMove& move) {
    if (!refused) refused = !ApplyDiffRecord(table, key, move);
  });
  return !refused;
}

}  // namespace

bool CopyBookDiff(ByteStream* package, ByteBlock* list, uint32_t* length) {
  constexpr uint32_t Group = 4 + 4 + 1 + MoveRecordSize;  // a group of one record
  uint64_t used = 0;
  bool enough = true;
  ReadBookDiff(package, [&](const PositionKey& key, const BookMove& move) {
    if (!enough) return;
    if (used + Group + 4 > list->capacity) {
      const uint64_t larger = list->capacity < 4096 ? 4096 : list->capacity * 2;
      if (larger > 0x7FFFFFFF || !list->Grow(larger, used)) {
        enough = false;
        return;
      }
    }
    uint8_t* at = list->bytes.get() + used;
    StoreU32(at, key.low);
    StoreU32(at + 4, key.high);
    at[8] = 1;
    StoreU16(at + 9, move.code);
    StoreU16(at + 11, move.aux);
    StoreU32(at + 13, move.data);
    used += Group;
  });
  if (!enough || (list->capacity < used + 4 && !list->Grow(used + 4, used))) return false;
  StoreU32(list->bytes.get() + used, 0);  // a word below 64 ends the list
  *length = static_cast<uint32_t>(used + 4);
  return true;
}

uint32_t MergeBookBody(ByteStream* package, ByteStream* oldFile, MergeRoom* room, int32_t threads) {
  // With threads to spare, the table is built and brought up to date while
  // the old body unpacks, from a list read early.
  const int32_t listStart = package->Tell();
  ArrivingLoad load(listStart >= 0 ? package : nullptr);
  const uint32_t rawSize = ReadRawBody(oldFile, &room->raw, PackThreads(threads) > 1 ? &load : nullptr);
  const bool loaded = load.Started();
  JosekiTablePtr table = load.Finish();
  const bool held = load.ListState() == ArrivingLoad::List::Held;
  // A list that could not be held, or a merge that failed before the list's
  // turn came: the package goes back to where the list starts.
  const bool failedBeforeList = rawSize == 0 || (loaded && !table) || load.Disordered();
  if (load.ListState() == ArrivingLoad::List::Dropped || (held && failedBeforeList)) {
    package->Seek(listStart, false);
  }
  if (rawSize == 0) return MergeFailed;
  if (!loaded) table.reset(LoadJosekiTable(room->raw.bytes.get(), rawSize));
  if (!table) return MergeFailed;

  if (held) {
    if (load.Disordered() || load.Refused()) return MergeFailed;
  } else {
    // A position out of its place could be searched for in vain and then
    // put a second time; such a book is left as it is rather than made worse.
    if (!ChainsInOrder(*table)) return MergeFailed;
    if (!ApplyBookDiff(package, table.get())) return MergeFailed;
  }

  uint32_t bodyLength = 0;
  if (PackTableBody(std::move(table), &room->raw, &room->body, &bodyLength, threads) != TablePacked) {
    return MergeFailed;
  }
  return bodyLength;
}

uint32_t MergeBookDiff(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  // The whole new body exists in memory before the first byte goes out, so a
  // failure anywhere before the write leaves newFile untouched.
  MergeRoom room;
  const uint32_t bodyLength = MergeBookBody(package, oldFile, &room, 0);
  if (bodyLength == MergeFailed) return MergeFailed;
  const int32_t written = newFile->Write(room.body.bytes.get(), static_cast<int32_t>(bodyLength));
  if (written != static_cast<int32_t>(bodyLength)) return MergeFailed;
  return bodyLength;
}
