// Brings one opening-book body up to date from a BookDiff list.
//
// A BookDiff list, inside an unpacked package script: groups of
//   u32 low (>= 64, != 0xFFFFFFFF), u32 high, u8 count, count x 8-byte records
// ended by a u32 terminator below 64 or equal to 0xFFFFFFFF, which is
// consumed; the end of the data ends a list as well, also inside a group or a
// record (a record cut short is not applied). A record whose aux is 0xFFFF
// and whose data is 0xFFFFFFFF deletes the move with its code; any other
// record puts a move. Records take effect strictly in stream order.
#pragma once

#include <cstdint>

#include "book/byte_block.h"
#include "book/joseki_table.h"

class ByteStream;

// The result of a merge that could not be carried out.
constexpr uint32_t MergeFailed = 0xFFFFFFFF;

// Reads the old BookBody (u32 packedSize, u32 rawSize, zlib stream) from
// oldFile, applies the BookDiff list that the package stream stands at, sorts
// every position's moves and writes the new body, packed by PackBody (one
// zlib stream at the default level), to newFile. Returns the number of bytes
// written, 8 + the new packed size; the package then stands behind the
// list's terminator and oldFile behind the old body. The merge runs on
// PackThreads(threads) threads (merge_pipeline.cpp); the bytes are the same
// for any count.
//
// Returns MergeFailed, having written nothing at all to newFile, when
//   - the old body cannot be read in full, does not unpack to exactly
//     rawSize bytes or does not load as a table (the package is then
//     untouched);
//   - the table refuses a put (no buckets, or no memory for it; the rest of
//     the list is still read through its terminator);
//   - the table that the whole list leaves is beyond the stored form's
//     limits (a position with more than 255 moves or a bucket with more than
//     65535 positions; on the way through the list it may pass them);
//   - memory runs out, or the new body cannot be compressed.
// The one exception is a write that newFile itself cuts short, which is also
// reported as MergeFailed. The streams stay the caller's.
uint32_t MergeBookDiff(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, int32_t threads = 1);

// The memory a merge works in: the raw body, old and then new, and the new
// packed body. Kept from one merge to the next, it spares the system handing
// out fresh pages each time.
struct MergeRoom {
  ByteBlock raw;
  ByteBlock body;
};

// MergeBookDiff's work without the write: the new body is left in
// room->body, and its length returned (or MergeFailed, for the same causes,
// the package standing where MergeBookDiff leaves it). On
// PackThreads(threads) threads (merge_pipeline.cpp).
uint32_t MergeBookBody(ByteStream* package, ByteStream* oldFile, MergeRoom* room, int32_t threads);

// Reads the BookDiff list that the package stands at through its terminator,
// as MergeBookDiff would, and leaves a list of its own in `list`, *length
// bytes long: the same records in the same order, each a group of one, then
// a terminator. Merged from the copy, a body comes out as from the package.
// False when memory runs out.
bool CopyBookDiff(ByteStream* package, ByteBlock* list, uint32_t* length);

// Applies the list that the package stands at through its terminator, in
// stream order. False when the table refused a put (no buckets, or no
// memory); the rest of the list is then read but not applied, so that the
// package still ends up behind the list. The stored form's limits are no
// reason to refuse: they apply to the table the whole list leaves, when it
// is saved.
bool ApplyBookDiff(ByteStream* package, JosekiTable* table);
