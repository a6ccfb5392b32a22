// Reads a BookDiff list record by record, as every merge reads it.
#pragma once

#include <cstdint>

#include "book/book_format.h"
#include "book/joseki_table.h"
#include "stream/byte_stream.h"

// Whole fields are read with Read, so that a list cut short by the end of the
// data is told apart from a field that holds 0xFFFFFFFF: a file stream fills
// missing bytes with 0xFF and a memory stream answers -1 for both.
inline bool ReadDiffField(ByteStream* package, uint8_t* field, int32_t length) {
  return package->Read(field, length) == length;
}

// Reads one list through its terminator and calls visit(key, move) for each
// whole record, in stream order. A record cut short is not visited; the
// data has ended, so the next read ends the list.
template <typename Visit>
void ReadBookDiff(ByteStream* package, Visit visit) {
  for (;;) {
    uint8_t field[8];
    if (!ReadDiffField(package, field, 4)) return;
    PositionKey key;
    key.low = LoadU32(field);
    if (IsListEnd(key.low)) return;
    if (!ReadDiffField(package, field, 4)) return;
    key.high = LoadU32(field);
    if (!ReadDiffField(package, field, 1)) return;
    const int count = field[0];
    for (int i = 0; i < count; ++i) {
      if (!ReadDiffField(package, field, 8)) return;
      BookMove move;
      move.code = static_cast<uint16_t>(LoadU16(field));
      move.aux = static_cast<uint16_t>(LoadU16(field + 2));
      move.data = LoadU32(field + 4);
      visit(key, move);
    }
  }
}

// Applies one record to the table: a delete marker removes its move (an
// absent move or position is no fault), any other record puts its move.
// False when the table refused a put (no buckets, or no memory).
inline bool ApplyDiffRecord(JosekiTable* table, const PositionKey& key, const BookMove& move) {
  if (IsDeleteMarker(move)) {
    RemoveMove(table, key, move);
    return true;
  }
  return PutMove(table, key, move) != 0;
}
