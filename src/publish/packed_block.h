// The packed block shared by a book body and an update data file: u32
// packedSize, u32 rawSize, then a zlib stream of packedSize bytes that
// unpacks to exactly rawSize bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What unpacking a block found, worst first after the two usable ones.
enum BlockFault : int32_t {
  BlockSound = 0,    // the stream fills exactly packedSize and unpacks to
                     // exactly rawSize bytes
  BlockSlack,        // as sound, but the stream ends before packedSize: the
                     // updater passes over the unused bytes
  BlockShortHeader,  // fewer than 8 bytes for the two sizes
  BlockPastEnd,      // packedSize reaches past the end of the file
  BlockDamaged,      // the zlib stream is not a valid stream
  BlockCutShort,     // the stream goes on past packedSize
  BlockTooLarge,     // it unpacks to more than rawSize bytes
  BlockTooSmall,     // it ends having unpacked fewer than rawSize bytes
  BlockNoMemory,     // the unpacked bytes do not fit in memory
};

struct BlockCheck {
  BlockFault fault = BlockShortHeader;
  uint32_t packedSize = 0;    // as stored
  uint32_t rawSize = 0;       // as stored
  uint64_t streamLength = 0;  // packed bytes the zlib stream used
  uint64_t produced = 0;      // bytes it unpacked to, at most rawSize + 1
};

// Unpacks the block at the start of `data` (of which `available` bytes
// exist) into `raw`, which grows as the stream delivers and never beyond
// rawSize, so a false rawSize costs no memory. On any fault but BlockSlack
// `raw` holds what was unpacked before it.
BlockCheck UnpackBlock(const uint8_t* data, uint64_t available, std::vector<uint8_t>* raw);

// True when a reader that works as the updater does can take the block:
// BlockSound or BlockSlack.
inline bool BlockUsable(const BlockCheck& check) {
  return check.fault == BlockSound || check.fault == BlockSlack;
}

// What is wrong with the block, in English ("the zlib stream is damaged"),
// with its sizes where they matter; "" for a sound block.
std::string DescribeBlock(const BlockCheck& check, uint64_t available);

// Packs `size` raw bytes into a whole block (the two sizes and the stream)
// with the updater's own PackBody (book/table_packing.h) on `threads`
// threads, so the same bytes always give the same block. False when the raw
// bytes or the stream would not fit the sizes the updater writes, or memory
// runs out.
bool PackBlock(const uint8_t* raw, uint64_t size, std::vector<uint8_t>* block, int32_t threads = 1);
