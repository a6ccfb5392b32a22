#include "publish/book_check.h"

#include <algorithm>
#include <cstring>

#include "book/book_body.h"
#include "book/book_format.h"
#include "book/divided_book.h"
#include "book/joseki_table.h"
#include "publish/book_text.h"
#include "publish/findings.h"
#include "publish/packed_block.h"

namespace {

// The record sizes of the raw body, 64 bits wide so that no product of a
// count and a size wraps.
constexpr uint64_t HeaderBytes = RawHeaderSize;
constexpr uint64_t BucketBytes = BucketRecordSize;
constexpr uint64_t NodeBytes = NodeRecordSize;
constexpr uint64_t MoveBytes = MoveRecordSize;

std::string Hex4(uint32_t value) {
  std::string text;
  AppendMoveText(&text, BookMove{static_cast<uint16_t>(value), 0, 0});
  return text.substr(0, 4);
}

bool KeyBelow(const PositionKey& a, const PositionKey& b) {
  return a.high != b.high ? a.high < b.high : a.low < b.low;
}

// The moves of one node: no code twice (a violation), ascending codes (a
// warning), nothing a diff could not put (a warning).
void CheckMoves(const uint8_t* records, uint32_t count, const std::string& place, Findings* findings) {
  std::vector<uint16_t> codes;
  bool sorted = true;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = records + MoveBytes * i;
    const uint16_t code = static_cast<uint16_t>(LoadU16(p));
    if (i > 0 && code < codes.back()) sorted = false;
    codes.push_back(code);
    if (LoadU16(p + 2) == 0xFFFF && LoadU32(p + 4) == 0xFFFFFFFF) {
      findings->Warning(place,
                        "move " + Hex4(code) + " has aux 0xFFFF with data 0xFFFFFFFF; no diff can put it");
    }
  }
  if (!sorted) findings->Warning(place, "moves not sorted by code (the updater's merge sorts them)");
  std::sort(codes.begin(), codes.end());
  for (size_t i = 1; i < codes.size(); ++i) {
    if (codes[i] == codes[i - 1] && (i < 2 || codes[i - 2] != codes[i])) {
      findings->Violation(place, "code " + Hex4(codes[i]) + " stands more than once");
    }
  }
}

}  // namespace

void CheckRawBody(const uint8_t* raw, size_t size, const std::string& place, Findings* findings,
                  int32_t division) {
  if (size < HeaderBytes) {
    findings->Violation(place,
                        "the raw body has " + std::to_string(size) + " bytes, fewer than its 12-byte header");
    return;
  }
  const uint32_t bucketCount = LoadU32(raw);
  const uint32_t nodeCount = LoadU32(raw + 4);
  const uint32_t moveCount = LoadU32(raw + 8);
  const uint64_t expected =
      HeaderBytes + BucketBytes * bucketCount + NodeBytes * nodeCount + MoveBytes * moveCount;
  if (expected != size) {
    findings->Violation(place, "the raw body has " + std::to_string(size) + " bytes, but bucketCount " +
                                   std::to_string(bucketCount) + ", nodeCount " + std::to_string(nodeCount) +
                                   " and moveCount " + std::to_string(moveCount) + " make " +
                                   std::to_string(expected));
  }
  if (bucketCount == 0) findings->Violation(place, "bucketCount is 0: no position has a bucket to go in");

  // Records are looked at only as far as the bytes reach; a short body has
  // been reported above.
  const uint64_t nodesAt = HeaderBytes + BucketBytes * bucketCount;
  const uint64_t movesAt = nodesAt + NodeBytes * nodeCount;
  const uint64_t bucketsHere = std::min<uint64_t>(bucketCount, (size - HeaderBytes) / BucketBytes);
  const uint64_t nodesHere = nodesAt > size ? 0 : std::min<uint64_t>(nodeCount, (size - nodesAt) / NodeBytes);
  const uint64_t movesHere = movesAt > size ? 0 : std::min<uint64_t>(moveCount, (size - movesAt) / MoveBytes);

  std::vector<uint32_t> chainLengths(static_cast<size_t>(bucketsHere));
  uint64_t listed = 0;
  for (uint64_t b = 0; b < bucketsHere; ++b) {
    const uint8_t* p = raw + HeaderBytes + BucketBytes * b;
    const uint32_t firstNode = LoadU32(p);
    chainLengths[b] = LoadU16(p + 4);
    if (firstNode != listed) {
      findings->Violation(place + ", bucket " + std::to_string(b),
                          "firstNode is " + std::to_string(firstNode) + ", but the buckets before it hold " +
                              std::to_string(listed) + " nodes");
    }
    listed += chainLengths[b];
  }
  if (bucketsHere == bucketCount && listed != nodeCount) {
    findings->Violation(place, "the buckets hold " + std::to_string(listed) + " nodes, but nodeCount is " +
                                   std::to_string(nodeCount));
  }

  uint64_t bucket = 0;  // the bucket the node record falls in
  uint64_t leftInBucket = bucketsHere > 0 ? chainLengths[0] : 0;
  uint64_t firstMove = 0;  // the running sum of move counts
  PositionKey previous{0, 0};
  bool hasPrevious = false;
  for (uint64_t i = 0; i < nodesHere; ++i) {
    while (bucket < bucketsHere && leftInBucket == 0) {
      ++bucket;
      leftInBucket = bucket < bucketsHere ? chainLengths[bucket] : 0;
      hasPrevious = false;
    }
    const bool placed = bucket < bucketsHere;
    const uint8_t* p = raw + nodesAt + NodeBytes * i;
    const PositionKey key{LoadU32(p), LoadU32(p + 4)};
    const uint32_t storedFirstMove = LoadU32(p + 8);
    const uint32_t count = p[12];
    std::string where = place;
    if (placed) where += ", bucket " + std::to_string(bucket);
    where += ", node " + std::to_string(i) + " (position ";
    AppendKeyText(&where, key);
    where += ")";

    if (storedFirstMove != firstMove) {
      findings->Violation(where, "firstMove is " + std::to_string(storedFirstMove) +
                                     ", but the nodes before it hold " + std::to_string(firstMove) +
                                     " moves");
    }
    if (count == 0) findings->Violation(where, "the node has no moves");
    if (!placed) {
      findings->Violation(where, "the node record lies behind every bucket's nodes");
    } else {
      const uint32_t home = (key.low ^ key.high) % bucketCount;
      if (home != bucket) findings->Violation(where, "its key belongs in bucket " + std::to_string(home));
      if (hasPrevious && !KeyBelow(key, previous)) {
        std::string before;
        AppendKeyText(&before, previous);
        findings->Violation(where, KeyBelow(previous, key)
                                       ? "the chain does not descend: it follows " + before
                                       : "the position stands twice in its chain");
      }
      previous = key;
      hasPrevious = true;
      --leftInBucket;
    }
    if (IsListEnd(key.low)) {
      findings->Warning(where, "no diff can name this position (its low word is below 64 or 0xFFFFFFFF)");
    }
    if (division >= 0 && static_cast<int32_t>(key.high >> 26) != division) {
      findings->Warning(where, "the top six bits of its high word name division " + std::to_string(key.high >> 26) +
                                   ", where the product looks for it");
    }
    if (firstMove + count <= movesHere)
      CheckMoves(raw + movesAt + MoveBytes * firstMove, count, where, findings);
    firstMove += count;
  }
  if (nodesHere == nodeCount && firstMove != moveCount) {
    findings->Violation(place, "the nodes hold " + std::to_string(firstMove) + " moves, but moveCount is " +
                                   std::to_string(moveCount));
  }
}

uint64_t CheckBookBlock(const uint8_t* data, uint64_t available, uint64_t offset, const std::string& place,
                        Findings* findings, int32_t division) {
  std::vector<uint8_t> raw;
  const BlockCheck check = UnpackBlock(data, available, &raw);
  const std::string where = place + " (block at offset " + std::to_string(offset) + ")";
  if (check.fault != BlockSound) findings->Violation(where, DescribeBlock(check, available));
  if (BlockUsable(check)) CheckRawBody(raw.data(), raw.size(), place, findings, division);
  if (check.fault == BlockShortHeader || check.fault == BlockPastEnd) return 0;
  return 8 + static_cast<uint64_t>(check.packedSize);
}

void CheckSingleBook(const std::vector<uint8_t>& file, Findings* findings) {
  if (file.size() < 8) {
    findings->Violation("the file",
                        "it has " + std::to_string(file.size()) + " bytes, fewer than the 8 of its magic");
    return;
  }
  if (memcmp(file.data(), BookFileMagic, 8) != 0) {
    findings->Violation("offset 0", "the magic is not \"JoSeKi5\" and its NUL");
  }
  const uint64_t length = CheckBookBlock(file.data() + 8, file.size() - 8, 8, "the body", findings);
  if (length > 0 && 8 + length < file.size()) {
    findings->Violation("offset " + std::to_string(8 + length),
                        std::to_string(file.size() - 8 - length) + " bytes stand after the body");
  }
}

void CheckDividedBook(const std::vector<uint8_t>& file, Findings* findings, void (*progress)(int32_t, void*),
                      void* context) {
  if (file.size() < DividedFirstBlock) {
    findings->Violation("the file", "it has " + std::to_string(file.size()) +
                                        " bytes, fewer than the 264 of its magic and table of offsets");
    return;
  }
  if (memcmp(file.data(), DividedBookMagic, 8) != 0) {
    findings->Violation("offset 0", "the magic is not \"JSKDIV1\" and its NUL");
  }
  struct Block {
    uint64_t begin, end;
    int32_t division;
  };
  std::vector<Block> blocks;
  for (int32_t k = 0; k < DivisionCount; ++k) {
    const std::string place = "division " + std::to_string(k);
    const uint32_t offset = LoadU32(file.data() + DividedTableOffset + 4 * k);
    if (offset < DividedFirstBlock) {
      findings->Violation(
          place, "its offset " + std::to_string(offset) + " lies inside the header (blocks begin at 264)");
    } else if (offset > file.size()) {
      findings->Violation(place, "its offset " + std::to_string(offset) + " lies past the end of the file (" +
                                     std::to_string(file.size()) + " bytes)");
    } else {
      const uint64_t length =
          CheckBookBlock(file.data() + offset, file.size() - offset, offset, place, findings, k);
      if (length > 0) blocks.push_back(Block{offset, offset + length, k});
    }
    if (progress != nullptr) progress(k + 1, context);
  }

  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.division < b.division;
  });
  bool asWritten = blocks.size() == static_cast<size_t>(DivisionCount);
  uint64_t covered = DividedFirstBlock;  // everything before this lies in the header or a block
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& block = blocks[i];
    if (i > 0 && block.begin < blocks[i - 1].end) {
      findings->Violation("division " + std::to_string(block.division),
                          "its block (offsets " + std::to_string(block.begin) + " to " +
                              std::to_string(block.end) + ") overlaps that of division " +
                              std::to_string(blocks[i - 1].division));
    }
    if (block.division != static_cast<int32_t>(i) || block.begin % 4 != 0 ||
        (i > 0 && block.begin != ((blocks[i - 1].end + 3) & ~uint64_t{3}))) {
      asWritten = false;
    }
    // Bytes between the blocks must be zero: the updater writes its
    // padding as zeros, and anything else there is hidden content.
    for (uint64_t at = covered; at < block.begin; ++at) {
      if (file[at] == 0) continue;
      uint64_t end = at;
      uint64_t nonzero = 0;
      for (; end < block.begin; ++end) nonzero += file[end] != 0;
      findings->Violation(
          "offsets " + std::to_string(at) + " to " + std::to_string(block.begin),
          std::to_string(nonzero) + " nonzero bytes outside every block (padding must be zero)");
      break;
    }
    covered = std::max(covered, block.end);
  }
  for (uint64_t at = covered; at < file.size(); ++at) {
    if (file[at] == 0) continue;
    findings->Violation("offsets " + std::to_string(at) + " to " + std::to_string(file.size()),
                        "nonzero bytes behind the last block (padding must be zero)");
    break;
  }
  if (!blocks.empty() && file.size() != ((covered + 3) & ~uint64_t{3})) asWritten = false;
  if (!asWritten) {
    findings->Warning("the file",
                      "the blocks are not laid out as the updater writes them (in division order, "
                      "each padded with zeros to a multiple of 4, nothing between them)");
  }
}
