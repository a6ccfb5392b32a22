// Brings one opening-book body up to date from a BookDiff list.
//
// A BookDiff list, inside an unpacked package script: groups of
//   u32 low (>= 64, != 0xFFFFFFFF), u32 high, u8 count, count x 8-byte records
// ended by a u32 terminator below 64 or equal to 0xFFFFFFFF, which is
// consumed; the end of the data ends a list as well. A record whose aux is
// 0xFFFF and whose data is 0xFFFFFFFF deletes the move with its code; any
// other record puts a move.
#pragma once

#include <cstdint>

class ByteStream;

// The result of a merge that could not be carried out.
constexpr uint32_t MergeFailed = 0xFFFFFFFF;

// Reads the old BookBody from oldFile, applies the BookDiff list that the
// package stream stands at, and writes the new body (u32 packedSize, u32
// rawSize, zlib stream) to newFile. Returns the number of bytes written,
// 8 + the new packed size, or MergeFailed, in which case nothing at all has
// been written to newFile.
uint32_t MergeBookDiff(ByteStream* package, ByteStream* oldFile, ByteStream* newFile);
