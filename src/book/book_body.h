// A JosekiTable as a whole raw body (the bytes inside a packed book body),
// in memory or on a stream: the loader and the saver (body_loader.h,
// body_saver.h) run over the whole body at once.
//
// Raw body: u32 bucketCount, u32 nodeCount, u32 moveCount, then bucketCount
// 6-byte bucket records, nodeCount 13-byte node records and moveCount 8-byte
// move records: exactly 12 + 6B + 13N + 8M bytes.
#pragma once

#include <cstdint>

#include "book/joseki_table.h"

class ByteStream;

// The exact raw size of a table with these counts, or 0xFFFFFFFF when the
// size does not fit in 32 bits.
uint32_t RawBodySize(uint32_t bucketCount, uint32_t nodeCount, uint32_t moveCount);

// Builds a table from the raw body in `buffer` (which stays the caller's and
// is not needed after the call); no allocation is ever more than a small
// multiple of `size`. Returns null when the body is damaged or memory runs
// out (BodyLoader::Feed says when). A body written by SaveJosekiTable always
// loads, into an equal table.
JosekiTable* LoadJosekiTable(const uint8_t* buffer, uint32_t size);

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

// Writes the table's raw body to the stream. 0 when written; -1 when the
// stream took fewer bytes than given, or when the table cannot be stored, in
// which case nothing at all is written.
int32_t WriteJosekiTable(const JosekiTable* table, ByteStream* stream);
