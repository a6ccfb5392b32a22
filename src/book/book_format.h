// The stored forms of the opening books and of the diff lists, in one
// place, as bytes and constants only: how their integers lie, the sizes of
// their records, the files' magics and the divided book's layout, the rules
// that end a list and that make a record a delete, and how far a packed
// block may claim to unpack.
//
// Every integer of every format is little-endian, composed and split byte by
// byte, so that the host's own order never matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "book/joseki_table.h"

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

// Move records are BookMove exactly as it lies in memory on a little-endian
// host, so there whole runs of them are copied at once.
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_WIN32)
constexpr bool HostIsLittleEndian = true;
#else
constexpr bool HostIsLittleEndian = false;
#endif

inline void LoadMoves(BookMove* moves, const uint8_t* records, size_t count) {
  if (HostIsLittleEndian) {
    if (count > 0) memcpy(moves, records, count * MoveRecordSize);
    return;
  }
  for (size_t i = 0; i < count; ++i, records += MoveRecordSize) {
    moves[i].code = static_cast<uint16_t>(LoadU16(records));
    moves[i].aux = static_cast<uint16_t>(LoadU16(records + 2));
    moves[i].data = LoadU32(records + 4);
  }
}

inline void StoreMoves(uint8_t* records, const BookMove* moves, size_t count) {
  if (HostIsLittleEndian) {
    if (count > 0) memcpy(records, moves, count * MoveRecordSize);
    return;
  }
  for (size_t i = 0; i < count; ++i, records += MoveRecordSize) {
    StoreU16(records, moves[i].code);
    StoreU16(records + 2, moves[i].aux);
    StoreU32(records + 4, moves[i].data);
  }
}

// --- the files

// The 8-byte magic of a single opening-book file ("JoSeKi5" and its NUL).
constexpr uint8_t BookFileMagic[8] = {'J', 'o', 'S', 'e', 'K', 'i', '5', 0};
// The 8-byte magic of a divided opening-book file ("JSKDIV1" and its NUL).
constexpr uint8_t DividedBookMagic[8] = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};

// A BookBody block: u32 packedSize, u32 rawSize, then the zlib stream.
constexpr uint32_t BodyCountsSize = 8;

// The divided book: its magic, a table of DivisionCount u32 absolute
// offsets at DividedTableOffset, and one BookBody block per division.
constexpr int32_t DivisionCount = 64;
constexpr uint32_t DividedTableOffset = 8;                     // where the offset table stands
constexpr uint32_t DividedTableSize = 4 * DivisionCount;       // its bytes
constexpr uint32_t DividedFirstBlock = 8 + DividedTableSize;   // 264: directly behind the table

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
// its packedSize (with some slack for the stream's own header and end)
// cannot be right, and is refused before it is allocated.
constexpr uint64_t MaxInflateRatio = 1032;
constexpr uint64_t MaxInflateSlack = 1024;
inline uint64_t MostUnpacked(uint32_t packedSize) { return packedSize * MaxInflateRatio + MaxInflateSlack; }
