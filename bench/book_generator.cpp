#include "bench/book_generator.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {
namespace {

void PutU16(Bytes* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A key that a diff can name: low at least 64 and not 0xFFFFFFFF.
uint64_t RandomKey(Random* random) {
  for (;;) {
    const uint64_t key = random->Next();
    const uint32_t low = static_cast<uint32_t>(key);
    if (low >= 64 && low != 0xFFFFFFFF) return key;
  }
}

// 1 to 8 moves, k with weight 1/k: about 2.9 moves per position on average.
uint32_t RandomMoveCount(Random* random) {
  static const uint32_t cumulative[8] = {368, 552, 675, 767, 841, 902, 955, 1000};
  const uint32_t draw = random->Below(1000);
  uint32_t k = 0;
  while (draw >= cumulative[k]) ++k;
  return k + 1;
}

// A shogi-like move code: destination square, origin square or dropped piece,
// promotion flag.
uint16_t RandomCode(Random* random) {
  const uint32_t to = random->Below(81);
  const uint32_t from = random->Below(81 + 7);
  const uint32_t promote = random->Below(8) == 0 ? 1 : 0;
  return static_cast<uint16_t>(to | from << 7 | promote << 14);
}

// Weights and results as books carry them: small numbers, mostly.
GeneratedMove RandomMove(Random* random, uint16_t code) {
  const uint32_t games = 1 + (random->Below(16) == 0 ? random->Below(5000) : random->Below(40));
  const uint32_t wins = random->Below(games + 1);
  return {code, static_cast<uint16_t>(random->Below(1000)), wins << 16 | games};
}

bool HasCode(const std::vector<uint16_t>& codes, uint16_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

void PutRecord(Bytes* list, uint16_t code, uint16_t aux, uint32_t data) {
  PutU16(list, code);
  PutU16(list, aux);
  PutU32(list, data);
}

}  // namespace

GeneratedBook GenerateBook(uint32_t positions, uint32_t bucketCount, uint64_t seed) {
  Random random(seed);
  GeneratedBook book;
  book.bucketCount = bucketCount;

  std::vector<uint64_t> keys(positions);
  for (uint64_t& key : keys) key = RandomKey(&random);
  auto bucketOf = [bucketCount](uint64_t key) {
    return (static_cast<uint32_t>(key) ^ static_cast<uint32_t>(key >> 32)) % bucketCount;
  };
  // Stored order: by bucket, then descending key. A key here is the 64-bit
  // value high * 2^32 + low, which is the order of the chains.
  std::sort(keys.begin(), keys.end(), [&](uint64_t a, uint64_t b) {
    const uint32_t ba = bucketOf(a), bb = bucketOf(b);
    return ba != bb ? ba < bb : a > b;
  });
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

  std::vector<uint32_t> chainLengths(bucketCount, 0);
  std::vector<uint16_t> codes;
  book.nodes.reserve(keys.size());
  book.moves.reserve(keys.size() * 3);
  for (uint64_t key : keys) {
    ++chainLengths[bucketOf(key)];
    codes.clear();
    const uint32_t count = RandomMoveCount(&random);
    while (codes.size() < count) {
      const uint16_t code = RandomCode(&random);
      if (!HasCode(codes, code)) codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    book.nodes.push_back({static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32),
                          static_cast<uint32_t>(book.moves.size()), count});
    for (uint16_t code : codes) book.moves.push_back(RandomMove(&random, code));
  }
  for (uint32_t length : chainLengths) {
    if (length > 65535) {
      std::fprintf(stderr, "a bucket holds %u positions, more than a body can\n", length);
      std::exit(1);
    }
  }

  Bytes& raw = book.raw;
  raw.reserve(12 + 6ull * bucketCount + 13ull * book.nodes.size() + 8ull * book.moves.size());
  PutU32(&raw, bucketCount);
  PutU32(&raw, static_cast<uint32_t>(book.nodes.size()));
  PutU32(&raw, static_cast<uint32_t>(book.moves.size()));
  uint32_t first = 0;
  for (uint32_t length : chainLengths) {
    PutU32(&raw, first);
    PutU16(&raw, length);
    first += length;
  }
  for (const GeneratedNode& node : book.nodes) {
    PutU32(&raw, node.low);
    PutU32(&raw, node.high);
    PutU32(&raw, node.firstMove);
    raw.push_back(static_cast<uint8_t>(node.moveCount));
  }
  for (const GeneratedMove& move : book.moves) PutRecord(&raw, move.code, move.aux, move.data);
  return book;
}

void AppendDiff(const GeneratedBook& book, uint32_t groups, uint64_t seed, Bytes* list) {
  Random random(seed);
  std::vector<uint16_t> codes;
  for (uint32_t g = 0; g < groups; ++g) {
    const uint32_t kind = random.Below(100);
    if (kind < 30 || book.nodes.empty()) {  // a new position
      const uint64_t key = RandomKey(&random);
      const uint32_t count = 1 + random.Below(3);
      PutU32(list, static_cast<uint32_t>(key));
      PutU32(list, static_cast<uint32_t>(key >> 32));
      list->push_back(static_cast<uint8_t>(count));
      codes.clear();
      while (codes.size() < count) {
        const uint16_t code = RandomCode(&random);
        if (HasCode(codes, code)) continue;
        codes.push_back(code);
        const GeneratedMove move = RandomMove(&random, code);
        PutRecord(list, move.code, move.aux, move.data);
      }
      continue;
    }
    const GeneratedNode& node = book.nodes[random.Below(static_cast<uint32_t>(book.nodes.size()))];
    const GeneratedMove* moves = &book.moves[node.firstMove];
    PutU32(list, node.low);
    PutU32(list, node.high);
    if (kind < 55) {  // new moves for a present position (now and then one it has)
      const uint32_t count = 1 + random.Below(2);
      list->push_back(static_cast<uint8_t>(count));
      for (uint32_t i = 0; i < count; ++i) {
        const GeneratedMove move = RandomMove(&random, RandomCode(&random));
        PutRecord(list, move.code, move.aux, move.data);
      }
    } else if (kind < 80) {  // overwrites of present moves
      const uint32_t count = 1 + random.Below(2);
      list->push_back(static_cast<uint8_t>(count));
      for (uint32_t i = 0; i < count; ++i) {
        const GeneratedMove move = RandomMove(&random, moves[random.Below(node.moveCount)].code);
        PutRecord(list, move.code, move.aux, move.data);
      }
    } else if (kind < 90) {  // one move deleted, now and then one that is absent
      list->push_back(1);
      const uint16_t code =
          random.Below(8) == 0 ? RandomCode(&random) : moves[random.Below(node.moveCount)].code;
      PutRecord(list, code, 0xFFFF, 0xFFFFFFFF);
    } else {  // every move deleted: the position goes
      list->push_back(static_cast<uint8_t>(node.moveCount));
      for (uint32_t i = 0; i < node.moveCount; ++i) PutRecord(list, moves[i].code, 0xFFFF, 0xFFFFFFFF);
    }
  }
  PutU32(list, 0xFFFFFFFF);
}

Bytes PackBody(const Bytes& raw) {
  uLongf packedLength = compressBound(raw.size());
  Bytes block(8 + packedLength);
  if (compress(block.data() + 8, &packedLength, raw.data(), raw.size()) != Z_OK) {
    std::fprintf(stderr, "compress failed\n");
    std::exit(1);
  }
  block.resize(8 + packedLength);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(packedLength >> (8 * i));
  for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(raw.size() >> (8 * i));
  return block;
}

}  // namespace bench
