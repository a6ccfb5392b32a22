// The divided opening-book file: an 8-byte magic ("JSKDIV1" and its NUL), a
// table of 64 u32 absolute offsets at offset 8, and 64 BookBody blocks.
//
// A file that the system writes has its first block at the old file's first
// offset (264 in a well-formed file, directly behind the table; any bytes
// between the table and it are zero) and the blocks in division order without
// gaps, each followed by 0 to 3 zero bytes so that its length is a multiple of
// 4. When reading, the blocks are found through the offsets wherever they
// stand.
#pragma once

#include <cstdint>

#include "book/book_format.h"

class ByteStream;

// The result of MergeDividedBook when the book cannot be brought up to date.
constexpr int32_t DividedMergeFailed = -1;

// Merges the package's 64 BookDiff lists (behind one ignored u32) into the
// 64 divisions of oldFile, writing them in division order into newFile, each
// block padded with zero bytes to a multiple of 4, and fills in the offset
// table at offset 8 once the last division is written; newFile then stands
// behind the last block. Both files stand at offset 8, behind their magics,
// on entry. The divisions are merged on PackThreads(threads) threads
// (merge_pipeline.cpp), with at most one division more in memory than
// there are threads; the bytes are the same for any count.
//
// The blocks are read wherever the offsets say: divisions may share one
// block, or name overlapping ones, and each is merged from what it finds.
//
// Returns
//   0                   every division is merged and the table filled in;
//   DividedMergeFailed  with nothing written to newFile: oldFile's table
//                       cannot be read, its first offset is below 264, or an
//                       offset leaves no room for a block's two counts
//                       inside oldFile;
//   DividedMergeFailed  as soon as one division cannot be merged (see
//                       MergeBookDiff: a block cut short by the end of the
//                       file, for one) or newFile cannot be written; newFile's
//                       offset table then still holds zeros and the file is
//                       no book.
int32_t MergeDividedBook(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, int32_t threads = 1);

// The steps of MergeDividedBook on the file's layout; the merge itself, and
// which thread does what, is in merge_pipeline.cpp.

// The old file's layout, read and checked before anything is written.
struct DividedLayout {
  uint32_t offsets[DivisionCount];      // of the old blocks
  uint32_t packedSizes[DivisionCount];  // read only when every body is small
  int64_t length = 0;                   // of the old file
  bool allSmall = false;                // every body packs to at most HeldBodyMost bytes
};

// A division whose old body packs to more than this is not held in memory:
// the book is then merged one division after the other, each old body
// unpacked straight from the file, as a single book is.
constexpr uint32_t HeldBodyMost = 16 * 1024 * 1024;

// Reads the old offset table, the old file's length and whether every body
// is small (which leaves oldFile anywhere). False when an offset is unusable:
// the first below 264, or one with no room for a block's two counts.
bool ReadDividedLayout(ByteStream* oldFile, DividedLayout* old);

// Reserves newFile's offset table (zeros) and any gap behind it up to the
// old first offset; newFile then stands where the first block goes.
bool StartDividedFile(ByteStream* newFile, const DividedLayout& old);

// Writes a division's new block at the end of newFile, padded with zeros to
// a multiple of 4 bytes, and sets *next to the offset behind it. False when
// the file cannot be written or the offset passes what Seek can reach.
bool WriteDivisionBlock(ByteStream* newFile, const uint8_t* block, uint32_t length, uint32_t offset,
                        uint32_t* next);

// Fills in the offset table (newOffsets[0 .. 63]) and leaves newFile behind
// the last block, at newOffsets[64].
bool FinishDividedFile(ByteStream* newFile, const uint32_t* newOffsets);
