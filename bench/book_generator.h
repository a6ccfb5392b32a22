// Deterministic generator of realistic opening books and diffs for the merge
// benchmark: random 64-bit position keys, 1 to 8 moves per position (fewer
// moves more often, as in real books), and diffs that mix new positions, new
// moves, overwrites and deletions.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

// A small, fast generator with a fixed sequence for a given seed on every
// platform (SplitMix64).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) * n >> 32); }

 private:
  uint64_t state_;
};

struct GeneratedNode {
  uint32_t low, high;
  uint32_t firstMove;  // index into GeneratedBook::moves
  uint32_t moveCount;
};

struct GeneratedMove {
  uint16_t code, aux;
  uint32_t data;
};

// A book in stored order (bucket by bucket, descending keys), moves sorted by
// code, with its raw body.
struct GeneratedBook {
  uint32_t bucketCount = 0;
  std::vector<GeneratedNode> nodes;
  std::vector<GeneratedMove> moves;
  Bytes raw;
};

GeneratedBook GenerateBook(uint32_t positions, uint32_t bucketCount, uint64_t seed);

// Appends a BookDiff list of `groups` groups over `book`, with its terminator.
// About 30 % of the groups put new positions, 25 % add moves to present
// positions, 25 % overwrite present moves and 20 % delete (some of them every
// move of a position, some a move that is not there).
void AppendDiff(const GeneratedBook& book, uint32_t groups, uint64_t seed, Bytes* list);

// A whole BookBody block: u32 packedSize, u32 rawSize, the raw body
// compressed at zlib's default level.
Bytes PackBody(const Bytes& raw);

}  // namespace bench
