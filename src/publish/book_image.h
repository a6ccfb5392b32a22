// Whole opening-book files held in memory, single (magic "JoSeKi5", one
// body) or divided (magic "JSKDIV1", a table of 64 offsets, 64 bodies): read
// by magic, bodies loaded into tables one at a time, and new files made
// from tables exactly as the updater writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "book/joseki_table.h"

struct PackProgress;

enum BookLayout : int32_t {
  LayoutSingle = 0,   // magic, one BookBody
  LayoutDivided = 1,  // magic, 64 offsets, 64 BookBody blocks
};

struct BookImage {
  BookLayout layout = LayoutSingle;
  std::vector<uint8_t> bytes;  // the whole file
};

// The layout whose magic the first 8 bytes hold. False for neither.
bool BookLayoutOfMagic(const std::vector<uint8_t>& bytes, BookLayout* layout);

// Tells a book's layout by its magic, for bytes in memory. False, with a
// cause that names no file, when they carry neither magic or are too short
// for their layout's header.
bool ParseBookImage(std::vector<uint8_t> bytes, BookImage* image, std::string* error);

// 1 for a single book, 64 for a divided one.
int32_t BookBodyCount(const BookImage& image);

// The body's name in messages: "the body" or "division 12".
std::string BookBodyName(const BookImage& image, int32_t body);

// Where the body's block stands in the file: 8, or the division's offset.
uint32_t BookBodyOffset(const BookImage& image, int32_t body);

// Unpacks body `body` (0 to BookBodyCount - 1) and builds its table, as the
// updater would before merging into it. Null, with a cause that names the
// body ("division 3: the zlib stream is damaged ..."), when the block is
// not usable or its raw body is damaged.
JosekiTablePtr LoadBookBody(const BookImage& image, int32_t body, std::string* error);

// The whole BookBody block of the table as the updater writes it, by the
// updater's own PackTableBody (book/table_packing.h): every position's moves
// sorted by code, serialised, packed by PackBody on `threads` threads,
// telling `progress` how far it has come. The same table always gives the
// same bytes. The table is freed on the way. False, with a cause, when the
// table cannot be stored.
bool PackBookBody(JosekiTablePtr table, std::vector<uint8_t>* block, std::string* error, int32_t threads = 1,
                  const PackProgress* progress = nullptr);

// A single book file around one block.
std::vector<uint8_t> SingleBookBytes(const std::vector<uint8_t>& block);

// A divided book file around 64 blocks, laid out as the updater writes one:
// the first block at 264, each padded with zero bytes to a multiple of 4.
// False when the file would pass the 2 GiB that offsets can reach.
bool DividedBookBytes(const std::vector<std::vector<uint8_t>>& blocks, std::vector<uint8_t>* file);
