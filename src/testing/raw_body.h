// An independent writer of raw bodies, for the tests: every field laid out
// byte by byte here, apart from SaveJosekiTable and the format code, so that
// the tests that check the bytes the system writes have an oracle of their
// own.
#pragma once

#include <cstdint>
#include <vector>

#include "book/joseki_table.h"

namespace test_support {

// A position of a test book: its key and its moves in stored order.
struct Position {
  PositionKey key;
  std::vector<BookMove> moves;
};

// The raw body laid out exactly as given: chains[b] is bucket b's chain in
// stored order, nothing sorted or moved to its own bucket. The header's
// counts, then the bucket records (first node, node count), the node records
// (low, high, first move, move count) and the move records (code, aux, data).
inline std::vector<uint8_t> RawBody(const std::vector<std::vector<Position>>& chains) {
  std::vector<uint8_t> raw;
  auto u8 = [&raw](uint32_t value) { raw.push_back(static_cast<uint8_t>(value & 0xFF)); };
  auto u16 = [&u8](uint32_t value) {
    u8(value);
    u8(value >> 8);
  };
  auto u32 = [&u16](uint32_t value) {
    u16(value & 0xFFFF);
    u16(value >> 16);
  };
  uint32_t nodes = 0, moves = 0;
  for (const auto& chain : chains) {
    nodes += static_cast<uint32_t>(chain.size());
    for (const Position& position : chain) moves += static_cast<uint32_t>(position.moves.size());
  }
  u32(static_cast<uint32_t>(chains.size()));
  u32(nodes);
  u32(moves);
  uint32_t first = 0;
  for (const auto& chain : chains) {
    u32(first);
    u16(static_cast<uint32_t>(chain.size()));
    first += static_cast<uint32_t>(chain.size());
  }
  first = 0;
  for (const auto& chain : chains) {
    for (const Position& position : chain) {
      u32(position.key.low);
      u32(position.key.high);
      u32(first);
      u8(static_cast<uint32_t>(position.moves.size()));
      first += static_cast<uint32_t>(position.moves.size());
    }
  }
  for (const auto& chain : chains) {
    for (const Position& position : chain) {
      for (const BookMove& move : position.moves) {
        u16(move.code);
        u16(move.aux);
        u32(move.data);
      }
    }
  }
  return raw;
}

}  // namespace test_support
