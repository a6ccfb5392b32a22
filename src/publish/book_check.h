// Checks of the stored form of opening books, reporting every violation
// with its place rather than stopping at the first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Findings;

// Every invariant of a raw body: the size its three counts give; firstNode
// and firstMove against the running sums; node and move counts adding up;
// a bucket count above 0; each node in the bucket of its key and its chain
// strictly descending; 1 to 255 moves per node and no code twice in one.
// Warnings: moves not sorted by code (the merge sorts them), positions and
// moves that no diff can name or put, and for division `division` of a
// divided book (-1 for none) positions whose key's top six bits name
// another division, where the product looks for them. `place` begins every
// place ("division 3").
void CheckRawBody(const uint8_t* raw, size_t size, const std::string& place, Findings* findings,
                  int32_t division = -1);

// Checks the BookBody block at the start of `data` (`available` bytes to the
// end of the file, `offset` its place in the file): its zlib stream must
// fill exactly packedSize and unpack to exactly rawSize bytes, and its raw
// body must pass CheckRawBody. Returns the block's length, 8 + packedSize,
// or 0 when its sizes are missing or reach past the end of the file.
uint64_t CheckBookBlock(const uint8_t* data, uint64_t available, uint64_t offset, const std::string& place,
                        Findings* findings, int32_t division = -1);

// A whole single book file: magic, one body, nothing after it.
void CheckSingleBook(const std::vector<uint8_t>& file, Findings* findings);

// A whole divided book file: magic, offsets inside the file and behind the
// table, blocks not overlapping, every byte outside the blocks zero, each
// division's body. A layout other than the updater's (division order, no
// gaps, padding to 4) is a warning. `progress`, when given, is called with
// each division done.
void CheckDividedBook(const std::vector<uint8_t>& file, Findings* findings,
                      void (*progress)(int32_t, void*) = nullptr, void* context = nullptr);
