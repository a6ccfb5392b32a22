// The one way a table or a raw body becomes a stored body, for the merge
// and the publisher's tools alike, so that both give the same bytes.
#pragma once

#include <cstdint>

#include "book/byte_block.h"
#include "book/joseki_table.h"

class ArrivedBytes;
struct PackProgress;

// The room behind its two counts that a packed body of `size` raw bytes is
// given: the system's own rule, 0.2 % above the raw size plus 12 bytes, but
// never below the most the packer can make of it (for a body of one chunk,
// zlib's compressBound), so that packing cannot run short of room on a small
// or incompressible body. 0 when it does not fit 32 bits.
uint32_t PackedBodyCapacity(uint32_t size);

// Packs `size` raw bytes into a whole BookBody block at `block`, which has
// room for 8 + PackedBodyCapacity(size) bytes: u32 packedSize, u32 rawSize,
// then one zlib stream at the default level, deflated a chunk at a time on
// PackThreads(threads) threads (parallel_deflate.h), so that the same raw
// bytes always give the same block whatever the threads. Every body the
// system writes is packed here. Sets *blockLength to the block's length
// (8 + packedSize) and returns PackDone, or one of PackRawBody's failures
// (PackNoMemory when memory ran out; PackNoRoom also when the packed size
// would pass what one stream write can take, 2^31 - 9), with *blockLength 0.
// With `arrived`, the raw bytes are still being written, and with
// `progress` the packing tells how far it has come (PackRawBody).
int32_t PackBody(const uint8_t* raw, uint32_t size, uint8_t* block, int32_t threads, uint32_t* blockLength,
                 ArrivedBytes* arrived = nullptr, const PackProgress* progress = nullptr);

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
// are packed (merge_pipeline.cpp). With `progress`, the packing tells how
// many raw bytes are packed (PackRawBody). Returns TablePacked or one of the
// failures above, with *bodyLength 0.
int32_t PackTableBody(JosekiTablePtr table, ByteBlock* raw, ByteBlock* body, uint32_t* bodyLength,
                      int32_t threads, const PackProgress* progress = nullptr);
