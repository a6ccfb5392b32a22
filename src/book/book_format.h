// The stored forms of the opening books and of the diff lists, in one
// place: how their integers lie, the sizes of their records, their magics,
// the rules that end a list and that make a record a delete, and how far a
// packed block may claim to unpack.
//
// Every integer of every format is little-endian, composed and split byte by
// byte, so that the host's own order never matters.
#pragma once

#include <cstdint>
#include <vector>

#include "book/joseki_table.h"
#include "book/byte_arrival.h"

// --- integers

inline uint32_t LoadU16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }

inline uint32_t LoadU32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreU16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void AppendU8(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
}

inline void AppendU16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// --- the raw body: a header, then bucket, node and move records

constexpr uint32_t RawHeaderSize = 12;    // u32 bucketCount, nodeCount, moveCount
constexpr uint32_t BucketRecordSize = 6;  // u32 firstNode, u16 nodeCount
constexpr uint32_t NodeRecordSize = 13;   // u32 low, u32 high, u32 firstMove, u8 moveCount
constexpr uint32_t MoveRecordSize = 8;    // u16 code, u16 aux, u32 data

// --- the files

// The 8-byte magic of a single opening-book file ("JoSeKi5" and its NUL).
extern const uint8_t BookFileMagic[8];
// The 8-byte magic of a divided opening-book file ("JSKDIV1" and its NUL).
extern const uint8_t DividedBookMagic[8];

// --- diff lists

// A group's first word ends the list when it is below 64 or all ones; no
// position key has such a low word.
inline bool IsListEnd(uint32_t low) { return low < 64 || low == 0xFFFFFFFF; }

// A record whose aux and data are all ones deletes the move with its code;
// any other record puts its move.
constexpr uint16_t DeleteMarkerAux = 0xFFFF;
constexpr uint32_t DeleteMarkerData = 0xFFFFFFFF;
inline bool IsDeleteMarker(const BookMove& move) {
  return move.aux == DeleteMarkerAux && move.data == DeleteMarkerData;
}

// --- packed blocks

// Deflate spends at least two bits on a 258-byte match, so no zlib stream
// unpacks to more than 1032 times its own length: a rawSize beyond that for
// its packedSize cannot be right, and is refused before it is allocated.
constexpr uint64_t MaxInflateRatio = 1032;

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
// system writes is packed here. Returns the block's length (8 +
// packedSize), or 0 when the packing fails or the packed size would pass
// what one stream write can take (2^31 - 9). With `arrival`, the raw bytes
// are still being written (PackRawBody).
uint32_t PackBody(const uint8_t* raw, uint32_t size, uint8_t* block, int32_t threads = 0,
                  ByteArrival* arrival = nullptr);
