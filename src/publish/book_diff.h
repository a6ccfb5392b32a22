// The BookDiff between two bodies: the records that turn the table of one
// into the table of the other through the updater's merge, and the list
// bytes and text that carry them.
//
// A BookDiff list: groups of u32 low (at least 64, not 0xFFFFFFFF), u32
// high, u8 count and count 8-byte records, ended by a u32 below 64 or equal
// to 0xFFFFFFFF. A record whose aux is 0xFFFF and whose data is 0xFFFFFFFF
// deletes the move with its code; any other record puts a move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "book/book_format.h"
#include "book/joseki_table.h"

constexpr uint32_t DiffListEnd = 0;  // the terminator this tool writes

// One record of a diff: put `move` into the position, or delete the move
// with its code.
struct DiffRecord {
  PositionKey key;
  BookMove move;
  bool remove;
};

struct DiffCounts {
  uint64_t groups = 0;
  uint64_t puts = 0;
  uint64_t deletes = 0;
  DiffCounts& operator+=(const DiffCounts& other) {
    groups += other.groups;
    puts += other.puts;
    deletes += other.deletes;
    return *this;
  }
};

// The smallest records that turn table `from` into table `to`: per
// position, puts for moves that are new or differ in any of their 8 bytes,
// delete markers for moves that are gone. Records of one position stand
// together, deletes before puts; positions that go come first, then those
// that change, then those that are new, each in ascending key order, so that
// no position and no bucket ever holds more than it does in `from` or `to`.
//
// False, with a cause that begins with `fromName` or `toName`, when `to`
// cannot be reached by any diff: the bucket counts differ; `from` has a
// position outside its bucket or chains out of order (the merge would not
// find its positions); `to` holds a position twice or a code twice in one
// position.
bool ComputeBookDiff(const JosekiTable& from, const std::string& fromName, const JosekiTable& to,
                     const std::string& toName, std::vector<DiffRecord>* records, std::string* error);

// False, with a cause naming the position, when a record cannot be written
// as a BookDiff: its position's low word is below 64 or 0xFFFFFFFF, or it
// puts a move whose aux is 0xFFFF with data 0xFFFFFFFF (which reads as a
// delete marker).
bool CheckDiffRecords(const std::vector<DiffRecord>& records, std::string* error);

// Appends the list: each run of records of one position as one group, split
// into several groups of the same position past 255 records, then the
// terminator. Returns what it wrote. The records must have passed
// CheckDiffRecords.
DiffCounts AppendBookDiffList(const std::vector<DiffRecord>& records, std::vector<uint8_t>* list);

// Appends the records as text, one group a line: the key, then -CODE for a
// delete and +CODE:AUX:DATA for a put.
void AppendDiffText(const std::vector<DiffRecord>& records, std::string* text);
