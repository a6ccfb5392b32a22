// The text form of an opening book, one position a line:
//
//   # comments run from # to the end of the line
//   buckets 1021                     the bucket count of a single book
//   division 0 buckets 1021          starts division 0 of a divided book
//   00000040 00000000 0005:0001:00000007 0009:0000:00000000
//
// A position line is the key's low and high words, then its moves as
// code:aux:data, all in hexadecimal (up to 8, 4 and 8 digits; either case).
// A text with division lines is a divided book: divisions ascend, each at
// most once, and a division's positions follow its line. `buckets` and a
// division's `buckets` may be left out; the packer then supplies a count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "book/joseki_table.h"

// One move of a position line, with the line it came from.
struct TextMove {
  PositionKey key;
  BookMove move;
  uint32_t line;
};

struct TextBody {
  uint32_t bucketCount = 0;     // as the text gives it; 0 when it does not
  uint32_t line = 0;            // the line of its division, 0 for none
  std::vector<TextMove> moves;  // every move of the body, in text order
};

struct BookText {
  bool divided = false;          // the text has division lines
  uint32_t bucketCount = 0;      // of the `buckets` line; 0 when none
  uint32_t bucketsLine = 0;      // where that line stands
  std::vector<TextBody> bodies;  // 1 for a single book, 64 for a divided
};

// The most buckets a body may have in the text form.
constexpr uint32_t MaxTextBuckets = 1u << 24;

// The bucket count of a body when neither the text nor the packer names
// one.
constexpr uint32_t DefaultBucketCount = 1021;

// Parses the text. False, with "LINE: cause" (lines count from 1), at the
// first thing that is not the text form.
bool ParseBookText(const std::string& text, BookText* book, std::string* error);

// Builds the table of one body with `bucketCount` buckets. False, with
// "LINE: cause", for a position that stands on two lines, a code that
// stands twice in one position, or a bucket that would hold more positions
// than the stored form can count.
JosekiTablePtr BuildTextBody(TextBody* body, uint32_t bucketCount, std::string* error);

// Makes a single book's text divided: without division lines, a position's
// division is the top six bits of its high word.
void SpreadOverDivisions(BookText* book);

// "0005:0001:00000007".
void AppendMoveText(std::string* out, const BookMove& move);
// "00000040 00000000".
void AppendKeyText(std::string* out, const PositionKey& key);
// The key, then every move in stored order, then a line break.
void AppendPositionLine(std::string* out, const JosekiNode& node);
// The lines that start a body: "buckets B" for a single book (division
// -1), "division K buckets B" for a division.
void AppendBodyLine(std::string* out, int32_t division, int32_t bucketCount);
