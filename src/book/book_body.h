// The raw serialised form of a JosekiTable (the bytes inside a compressed
// book body) and the constants of the book file layouts.
//
// Raw body: u32 bucketCount, u32 nodeCount, u32 moveCount, then bucketCount
// 6-byte bucket records, nodeCount 13-byte node records and moveCount 8-byte
// move records: exactly 12 + 6B + 13N + 8M bytes.
#pragma once

#include <cstdint>

#include "book/book_format.h"
#include "book/byte_arrival.h"
#include "book/joseki_table.h"

class ByteStream;

// The exact raw size of a table with these counts, or 0xFFFFFFFF when the
// size does not fit in 32 bits.
uint32_t RawBodySize(uint32_t bucketCount, uint32_t nodeCount, uint32_t moveCount);

// Builds a table from the raw body in `buffer` (which stays the caller's and
// is not needed after the call); no allocation is ever more than a small
// multiple of `size`. Returns null when
//   - the size is not exactly what the body's counts give;
//   - the bucket node counts do not add up to nodeCount;
//   - the node move counts do not add up to moveCount;
//   - memory runs out. A node record with
// a move count of 0 stands for no position and is left out, with the table's
// nodeCount and its bucket's size lowered to match. The firstNode and
// firstMove fields are not looked at. A body written by SaveJosekiTable
// always loads, into an equal table.
JosekiTable* LoadJosekiTable(const uint8_t* buffer, uint32_t size);

// A raw body that is still being unpacked into its buffer, front to back.
class BodyArrival : public ByteArrival {
 public:
  // On the loading thread, as the moves come in: the table's first `buckets`
  // buckets are whole, and from now on theirs to change whom this tells
  // (their chains and sizes, and the table's node and move counts); the
  // loading goes on only behind them. Told once more with every bucket when
  // the last move is in.
  virtual void BucketsLoaded(JosekiTable* table, uint32_t buckets) {
    (void)table;
    (void)buckets;
  }

 protected:
  ~BodyArrival() = default;
};

// LoadJosekiTable over a body that is still arriving: each record is read
// once `arrival` says it is there, so the table is built while the rest of
// the body unpacks, and its buckets are handed over as they are whole. The
// same table as LoadJosekiTable(buffer, size) once the whole body has come
// (and as it then stands, after what was done with its buckets); null as
// soon as it stops short.
JosekiTable* LoadArrivingJosekiTable(const uint8_t* buffer, uint32_t size, BodyArrival* arrival);

// Reads one raw body from the stream's current position, as LoadJosekiTable
// does from memory, leaving the stream right behind it. Null when damaged or
// when the stream ends before the body does.
JosekiTable* ReadJosekiTable(ByteStream* stream);

// Serialises the table into `buffer`, which must hold at least
// RawBodySize(table counts) bytes (exactly that many are written). Returns
//   0   written;
//   -1  the buffer is too small, or the table cannot be stored: its counts
//       are out of step with its chains, or a node has more than
//       MaxMovesPerNode moves or a chain more than MaxNodesPerBucket nodes
//       (PutMove allows both in memory).
int32_t SaveJosekiTable(const JosekiTable* table, uint8_t* buffer, uint32_t size);

// Told, on the saving thread, how far a save has come.
class SaveProgress {
 public:
  // The first `length` bytes of the buffer are written.
  virtual void Saved(uint32_t length) = 0;

 protected:
  ~SaveProgress() = default;
};

// SortMoves and SaveJosekiTable in one pass over the table: each position's
// moves are sorted just before they are written, which gives the same table
// and the same bytes. With `progress`, it is told of the bytes written every
// SaveProgressStep bytes or so, and once more of all of them.
constexpr uint32_t SaveProgressStep = 256 * 1024;
int32_t SaveSortedJosekiTable(JosekiTable* table, uint8_t* buffer, uint32_t size, SaveProgress* progress);

// Writes the table's raw body to the stream. 0 when written; -1 when the
// stream took fewer bytes than given, or when the table cannot be stored, in
// which case nothing at all is written.
int32_t WriteJosekiTable(const JosekiTable* table, ByteStream* stream);
