// The one way a table becomes a stored body, for the merge and the
// publisher's tools alike, so that both give the same bytes.
#pragma once

#include <cstdint>

#include "book/byte_block.h"
#include "book/joseki_table.h"

// Results of PackTableBody.
constexpr int32_t TablePacked = 0;
constexpr int32_t TableTooLarge = -1;     // the raw body would pass 4 GiB
constexpr int32_t TableNotStorable = -2;  // beyond the stored form's limits
constexpr int32_t TableNoMemory = -3;
constexpr int32_t TablePackFailed = -4;  // zlib refused, or the packed size passes 2^31 − 9

// Sorts every position's moves, saves the table as a raw body into `raw`,
// frees the table as soon as the raw body exists, and packs it into `body`:
// a whole BookBody block (u32 packedSize, u32 rawSize, the zlib stream), of
// *bodyLength bytes. The blocks are reused when they are large enough.
// PackThreads(threads) threads pack the body; with more than one, the table
// is saved and freed on a thread of its own while the chunks already saved
// are packed. Returns TablePacked or one of the failures above, with
// *bodyLength 0.
int32_t PackTableBody(JosekiTablePtr table, ByteBlock* raw, ByteBlock* body, uint32_t* bodyLength,
                      int32_t threads);
