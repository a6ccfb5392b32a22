#include "book/book_merge.h"

#include <cstdint>

#include "book/book_format.h"
#include "book/diff_reader.h"
#include "stream/byte_stream.h"

bool ApplyBookDiff(ByteStream* package, JosekiTable* table) {
  bool refused = false;
  ReadBookDiff(package, [table, &refused](const PositionKey& key, const BookMove& move) {
    if (!refused) refused = !ApplyDiffRecord(table, key, move);
  });
  return !refused;
}

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

uint32_t MergeBookDiff(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, int32_t threads) {
  // The whole new body exists in memory before the first byte goes out, so a
  // failure anywhere before the write leaves newFile untouched.
  MergeRoom room;
  const uint32_t bodyLength = MergeBookBody(package, oldFile, &room, threads);
  if (bodyLength == MergeFailed) return MergeFailed;
  const int32_t written = newFile->Write(room.body.bytes.get(), static_cast<int32_t>(bodyLength));
  if (written != static_cast<int32_t>(bodyLength)) return MergeFailed;
  return bodyLength;
}
