// The raw serialised form of a JosekiTable (the bytes inside a compressed
// book body) and the constants of the book file layouts.
//
// Raw body: u32 bucketCount, u32 nodeCount, u32 moveCount, then bucketCount
// 6-byte bucket records, nodeCount 13-byte node records and moveCount 8-byte
// move records: exactly 12 + 6B + 13N + 8M bytes.
#pragma once

#include <cstdint>

#include "book/joseki_table.h"

class ByteStream;

// The 8-byte magic of a single opening-book file ("JoSeKi5" and its NUL).
extern const uint8_t BookFileMagic[8];

// The exact raw size of a table with these counts, or 0xFFFFFFFF when the
// size does not fit in 32 bits.
uint32_t RawBodySize(uint32_t bucketCount, uint32_t nodeCount, uint32_t moveCount);

// Builds a table from the raw body in `buffer` (which stays the caller's).
// Returns null when the body is damaged: its size is not exactly what its
// counts give, the bucket node counts do not add up to nodeCount, or the node
// move counts do not add up to moveCount. A body written by SaveJosekiTable
// always loads.
JosekiTable* LoadJosekiTable(const uint8_t* buffer, uint32_t size);

// Reads a table from the stream's current position; null when damaged.
JosekiTable* ReadJosekiTable(ByteStream* stream);

// Serialises the table into `buffer`, which must hold exactly
// RawBodySize(table counts) bytes. 0 when written, -1 when the writing stream
// cannot be made.
int32_t SaveJosekiTable(const JosekiTable* table, uint8_t* buffer, uint32_t size);

// Writes the table to the stream. Always 0.
int32_t WriteJosekiTable(const JosekiTable* table, ByteStream* stream);
