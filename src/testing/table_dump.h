// Helpers shared by the tests of the table and the body.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "book/book_body.h"
#include "book/joseki_table.h"

namespace book_test {

using Bytes = std::vector<uint8_t>;

// Everything a table holds, in chain order, so that two tables compare equal
// exactly when they hold the same chains, moves and counts.
inline std::string Dump(const JosekiTable& t) {
  std::ostringstream out;
  out << t.bucketCount << '/' << t.nodeCount << '/' << t.moveCount << ':';
  int32_t nodes = 0, moves = 0;
  for (int32_t b = 0; b < t.bucketCount; ++b) {
    out << " [" << t.bucketSizes[b];
    int32_t length = 0;
    for (const JosekiNode* n = t.buckets[b]; n != nullptr; n = n->next, ++length) {
      out << " " << n->key.low << ',' << n->key.high << '=';
      for (int32_t i = 0; i < n->moveCount; ++i) {
        out << n->moves[i].code << '.' << n->moves[i].aux << '.' << n->moves[i].data << ';';
      }
      ++nodes;
      moves += n->moveCount;
    }
    out << "]";
    if (length != t.bucketSizes[b]) out << " BUCKET SIZE OUT OF STEP";
  }
  if (nodes != t.nodeCount || moves != t.moveCount) out << " COUNTS OUT OF STEP";
  return out.str();
}

inline Bytes Save(const JosekiTable& table) {
  Bytes body(RawBodySize(table.bucketCount, table.nodeCount, table.moveCount));
  EXPECT_EQ(SaveJosekiTable(&table, body.data(), static_cast<uint32_t>(body.size())), 0);
  return body;
}

}  // namespace book_test
