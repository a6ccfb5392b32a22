#include "book/joseki_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "book/book_body.h"
#include "book/chain_index.h"
#include "stream/byte_stream.h"

namespace {

using Key = std::pair<uint32_t, uint32_t>;  // (low, high)

PositionKey K(uint32_t low, uint32_t high) { return PositionKey{low, high}; }
BookMove M(uint16_t code, uint16_t aux = 0, uint32_t data = 0) { return BookMove{code, aux, data}; }

std::vector<Key> Chain(const JosekiTable& table, uint32_t bucket) {
  std::vector<Key> keys;
  for (const JosekiNode* node = table.buckets[bucket]; node != nullptr; node = node->next) {
    keys.emplace_back(node->key.low, node->key.high);
  }
  return keys;
}

const JosekiNode* Find(const JosekiTable& table, uint32_t low, uint32_t high) {
  for (const JosekiNode* node = table.buckets[BucketOf(table, K(low, high))]; node != nullptr;
       node = node->next) {
    if (node->key.low == low && node->key.high == high) return node;
  }
  return nullptr;
}

std::vector<uint16_t> Codes(const JosekiNode& node) {
  std::vector<uint16_t> codes;
  for (int32_t i = 0; i < node.moveCount; ++i) codes.push_back(node.moves[i].code);
  return codes;
}

struct Counts {
  int32_t nodes, moves, bucket;
  bool operator==(const Counts& o) const {
    return nodes == o.nodes && moves == o.moves && bucket == o.bucket;
  }
};
Counts CountsOf(const JosekiTable& table, uint32_t bucket) {
  return {table.nodeCount, table.moveCount, table.bucketSizes[bucket]};
}

TEST(JosekiTable, BucketIsXorOfWordsModuloCountUnsigned) {
  JosekiTablePtr table(CreateJosekiTable(7));
  ASSERT_TRUE(table);
  EXPECT_EQ(BucketOf(*table, K(0x40, 0)), 0x40u % 7);
  EXPECT_EQ(BucketOf(*table, K(0xFFFFFFF0, 0x0F)), 0xFFFFFFFFu % 7);  // unsigned, not -1 % 7
}

// Whatever the order of the puts, a chain ends up in descending key order,
// the high word deciding first.
TEST(JosekiTable, ChainKeepsDescendingKeyOrder) {
  std::vector<Key> keys = {{5, 7}, {9, 7}, {1, 8}};
  std::sort(keys.begin(), keys.end());
  do {
    JosekiTablePtr table(CreateJosekiTable(1));
    ASSERT_TRUE(table);
    for (const Key& key : keys) EXPECT_EQ(PutMove(table.get(), K(key.first, key.second), M(1)), 3);
    EXPECT_EQ(Chain(*table, 0), (std::vector<Key>{{1, 8}, {9, 7}, {5, 7}}));

    EXPECT_EQ(PutMove(table.get(), K(7, 7), M(1)), 3);
    EXPECT_EQ(Chain(*table, 0), (std::vector<Key>{{1, 8}, {9, 7}, {7, 7}, {5, 7}}));
    EXPECT_EQ(PutMove(table.get(), K(9, 7), M(2)), 2);
    EXPECT_EQ(Codes(*Find(*table, 9, 7)), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(CountsOf(*table, 0), (Counts{4, 5, 4}));
  } while (std::next_permutation(keys.begin(), keys.end()));
}

TEST(JosekiTable, KeysCompareUnsigned) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(0, 1), M(1));
  PutMove(table.get(), K(0, 0x80000000u), M(1));
  PutMove(table.get(), K(0x80000000u, 1), M(1));
  EXPECT_EQ(Chain(*table, 0), (std::vector<Key>{{0, 0x80000000u}, {0x80000000u, 1}, {0, 1}}));
}

TEST(JosekiTable, PutIntoEmptyBucketMakesOneNodeChain) {
  JosekiTablePtr table(CreateJosekiTable(4));
  ASSERT_TRUE(table);
  const PositionKey key = K(0x41, 0);  // bucket 1
  EXPECT_EQ(PutMove(table.get(), key, M(3)), 3);
  EXPECT_EQ(Chain(*table, 1), (std::vector<Key>{{0x41, 0}}));
  EXPECT_EQ(CountsOf(*table, 1), (Counts{1, 1, 1}));
  for (uint32_t b : {0u, 2u, 3u}) EXPECT_EQ(table->bucketSizes[b], 0);
}

// The same code means the same move: its whole 8 bytes are replaced in place.
TEST(JosekiTable, PutWithExistingCodeOverwritesWholeEntry) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(64, 0), M(1, 10, 100));
  PutMove(table.get(), K(64, 0), M(2, 20, 200));
  EXPECT_EQ(PutMove(table.get(), K(64, 0), M(2, 0xFFFF, 0xDEADBEEF)), 1);
  const JosekiNode* node = Find(*table, 64, 0);
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(node->moveCount, 2);
  EXPECT_EQ(node->moves[1].aux, 0xFFFF);
  EXPECT_EQ(node->moves[1].data, 0xDEADBEEFu);
  EXPECT_EQ(node->moves[0].data, 100u);
  EXPECT_EQ(CountsOf(*table, 0), (Counts{1, 2, 1}));
}

TEST(JosekiTable, RemovingOnlyMoveRemovesNode) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(9, 1), M(1));
  PutMove(table.get(), K(5, 1), M(1));
  PutMove(table.get(), K(2, 1), M(1));
  // Middle, then head, then the last node.
  EXPECT_EQ(RemoveMove(table.get(), K(5, 1), M(1, 77, 77)), 1);
  EXPECT_EQ(Chain(*table, 0), (std::vector<Key>{{9, 1}, {2, 1}}));
  EXPECT_EQ(CountsOf(*table, 0), (Counts{2, 2, 2}));
  EXPECT_EQ(RemoveMove(table.get(), K(9, 1), M(1)), 1);
  EXPECT_EQ(RemoveMove(table.get(), K(2, 1), M(1)), 1);
  EXPECT_EQ(table->buckets[0], nullptr);
  EXPECT_EQ(CountsOf(*table, 0), (Counts{0, 0, 0}));
  EXPECT_EQ(PutMove(table.get(), K(5, 1), M(1)), 3);
}

TEST(JosekiTable, RemovingMiddleEntryKeepsOthersInOrder) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  for (uint16_t code : {30, 10, 20}) PutMove(table.get(), K(64, 0), M(code));
  EXPECT_EQ(RemoveMove(table.get(), K(64, 0), M(10)), 1);
  EXPECT_EQ(Codes(*Find(*table, 64, 0)), (std::vector<uint16_t>{30, 20}));
  EXPECT_EQ(CountsOf(*table, 0), (Counts{1, 2, 1}));
}

TEST(JosekiTable, RemovingWhatIsNotThereChangesNothing) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(64, 0), M(1));
  PutMove(table.get(), K(64, 0), M(2));
  EXPECT_EQ(RemoveMove(table.get(), K(66, 0), M(1)), 0);  // same bucket, absent key
  EXPECT_EQ(RemoveMove(table.get(), K(65, 0), M(1)), 0);  // empty bucket
  EXPECT_EQ(RemoveMove(table.get(), K(64, 0), M(3)), 0);  // absent code
  EXPECT_EQ(Codes(*Find(*table, 64, 0)), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(CountsOf(*table, 0), (Counts{1, 2, 1}));
}

TEST(JosekiTable, TableWithoutBucketsTakesNothing) {
  JosekiTablePtr table(CreateJosekiTable(0));
  ASSERT_TRUE(table);
  EXPECT_EQ(PutMove(table.get(), K(64, 0), M(1)), 0);
  EXPECT_EQ(RemoveMove(table.get(), K(64, 0), M(1)), 0);
  EXPECT_EQ(SortMoves(table.get()), 0);
  EXPECT_EQ(table->nodeCount, 0);
  EXPECT_EQ(table->moveCount, 0);
  EXPECT_EQ(CreateJosekiTable(-1), nullptr);
}

// The stored form has a one-byte move count and a 16-bit chain length. A
// put passes either all the same, and the table goes on as usual (an index
// keeps serving a chain past 65535 nodes); saving refuses such a table, and
// writes nothing to a stream, until a removal brings it back. The full node
// and the full chain stand in the last of many buckets, so that a writer
// that checked as it went would already have written out the buckets'
// records.
TEST(JosekiTable, PutsPassTheStoredFormsLimitsThatSavingKeeps) {
  constexpr int32_t Buckets = 20000;
  constexpr uint32_t Last = Buckets - 1;  // a low word of Last + k * Buckets lands there
  struct Case {
    const char* what;
    uint32_t nodes;  // nodes of one move each
    uint32_t moves;  // codes 0 and up put into the node of the key (Last, 0)
  } cases[] = {
      {"a node of 256 moves", 0, MaxMovesPerNode + 1},
      {"a node of 300 moves", 0, 300},
      {"a chain of 65536 nodes", MaxNodesPerBucket + 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JosekiTablePtr table(CreateJosekiTable(Buckets));
    ASSERT_TRUE(table);
    for (uint32_t code = 0; code < c.moves; ++code) {
      ASSERT_EQ(PutMove(table.get(), K(Last, 0), M(static_cast<uint16_t>(code))), code == 0 ? 3 : 2);
    }
    for (uint32_t i = 0; i < c.nodes; ++i) {
      ASSERT_EQ(PutMove(table.get(), K(Last + i * Buckets, 0), M(1)), 3);
    }
    const uint32_t nodes = c.moves > 0 ? 1 : c.nodes;
    const uint32_t moves = c.moves > 0 ? c.moves : c.nodes;
    EXPECT_EQ(CountsOf(*table, Last), (Counts{static_cast<int32_t>(nodes), static_cast<int32_t>(moves),
                                              static_cast<int32_t>(nodes)}));
    // Overwrites, appends and removals still find their places.
    const PositionKey middle = K(Last + (nodes / 2) * Buckets, 0);
    EXPECT_EQ(PutMove(table.get(), middle, M(1, 5, 5)), 1);
    EXPECT_EQ(PutMove(table.get(), middle, M(0xFFFF)), 2);
    EXPECT_EQ(RemoveMove(table.get(), middle, M(0xFFFF)), 1);
    EXPECT_TRUE(ChainsInOrder(*table));

    const uint32_t size = RawBodySize(Buckets, nodes, moves);
    std::vector<uint8_t> body(size);
    EXPECT_EQ(SaveJosekiTable(table.get(), body.data(), size), -1);
    std::vector<uint8_t> written(size, 0xAA);
    MemoryStreamPtr out(OpenMemoryStream(written.data(), size, false));
    EXPECT_EQ(WriteJosekiTable(table.get(), out.get()), -1);
    EXPECT_EQ(out->Tell(), 0);
    EXPECT_EQ(written, std::vector<uint8_t>(size, 0xAA));

    // Back within the limits, by removing a move of the node or a node.
    const uint32_t excess = c.moves > 0 ? c.moves - MaxMovesPerNode : c.nodes - MaxNodesPerBucket;
    for (uint32_t i = 0; i < excess; ++i) {
      const PositionKey key = c.moves > 0 ? K(Last, 0) : K(Last + (2 * i + 1) * Buckets, 0);
      ASSERT_EQ(RemoveMove(table.get(), key, M(static_cast<uint16_t>(c.moves > 0 ? 2 * i + 1 : 1))), 1);
    }
    const uint32_t kept = RawBodySize(Buckets, nodes - (c.moves > 0 ? 0 : excess), moves - excess);
    body.assign(kept, 0);
    ASSERT_EQ(SaveJosekiTable(table.get(), body.data(), kept), 0);
    JosekiTablePtr loaded(LoadJosekiTable(body.data(), kept));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(CountsOf(*loaded, Last), CountsOf(*table, Last));
    std::vector<uint8_t> streamed(kept);
    MemoryStreamPtr again(OpenMemoryStream(streamed.data(), kept, false));
    EXPECT_EQ(WriteJosekiTable(table.get(), again.get()), 0);
    EXPECT_EQ(streamed, body);
  }
}

// Codes order as unsigned 16-bit numbers; aux and data travel with their
// entry and play no part in the order.
TEST(JosekiTable, SortOrdersCodesUnsigned) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(64, 0), M(0x8000, 1, 0xFFFFFFFF));
  PutMove(table.get(), K(64, 0), M(0x7FFF, 0xFFFF, 2));
  PutMove(table.get(), K(64, 0), M(0xFFFF, 3, 3));
  PutMove(table.get(), K(64, 0), M(2, 0x8000, 4));
  EXPECT_EQ(SortMoves(table.get()), 0);
  const JosekiNode* node = Find(*table, 64, 0);
  EXPECT_EQ(Codes(*node), (std::vector<uint16_t>{2, 0x7FFF, 0x8000, 0xFFFF}));
  EXPECT_EQ(node->moves[0].data, 4u);
  EXPECT_EQ(node->moves[1].aux, 0xFFFF);
  EXPECT_EQ(node->moves[2].data, 0xFFFFFFFFu);
  EXPECT_EQ(CountsOf(*table, 0), (Counts{1, 4, 1}));
}

// Equal codes (only a loaded body brings them) are ordered by selection
// sort, which is not stable: the later of two equal codes may end up first.
TEST(JosekiTable, SortIsSelectionSortForEqualCodes) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  for (uint16_t code : {3, 1, 4, 0}) PutMove(table.get(), K(64, 0), M(code, code));
  JosekiNode* node = table->buckets[0];
  node->moves[2].code = 3;  // now 3(aux 3), 1, 3(aux 4), 0
  SortMoves(table.get());
  EXPECT_EQ(Codes(*node), (std::vector<uint16_t>{0, 1, 3, 3}));
  EXPECT_EQ(node->moves[2].aux, 4);  // swapped past its equal
  EXPECT_EQ(node->moves[3].aux, 3);
}

TEST(JosekiTable, SortLeavesChainsAndShortNodesAlone) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(2, 0), M(9));
  PutMove(table.get(), K(4, 0), M(5));
  PutMove(table.get(), K(4, 0), M(1));
  PutMove(table.get(), K(3, 0), M(8));
  const std::vector<Key> even = Chain(*table, 0), odd = Chain(*table, 1);
  SortMoves(table.get());
  EXPECT_EQ(Chain(*table, 0), even);
  EXPECT_EQ(Chain(*table, 1), odd);
  EXPECT_EQ(Codes(*Find(*table, 4, 0)), (std::vector<uint16_t>{1, 5}));
  EXPECT_EQ(Codes(*Find(*table, 2, 0)), (std::vector<uint16_t>{9}));
  EXPECT_EQ(CountsOf(*table, 0), (Counts{3, 4, 2}));
}

// Long chains are searched through an index: over thousands of random puts
// and removals into two buckets, every answer and both chains agree with a
// plain model of positions in descending key order.
TEST(JosekiTable, LongChainsAgreeWithAPlainModel) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  std::map<Key, std::vector<uint16_t>> model;  // (high, low) -> codes in put order
  std::mt19937 random(7);
  for (int step = 0; step < 20000; ++step) {
    const uint32_t low = 64 + static_cast<uint32_t>(random() % 600),
                   high = static_cast<uint32_t>(random() % 3);
    const uint16_t code = static_cast<uint16_t>(random() % 4);
    std::vector<uint16_t>& codes = model[{high, low}];
    const auto at = std::find(codes.begin(), codes.end(), code);
    if (random() % 3 == 0) {
      ASSERT_EQ(RemoveMove(table.get(), K(low, high), M(code)), at == codes.end() ? 0 : 1) << step;
      if (at != codes.end()) codes.erase(at);
    } else {
      const int32_t expected = at != codes.end() ? 1 : codes.empty() ? 3 : 2;
      ASSERT_EQ(PutMove(table.get(), K(low, high), M(code)), expected) << step;
      if (at == codes.end()) codes.push_back(code);
    }
    if (codes.empty()) model.erase({high, low});
  }
  std::vector<Key> chains[2];
  for (auto it = model.rbegin(); it != model.rend(); ++it) {
    const Key& hl = it->first;
    chains[BucketOf(*table, K(hl.second, hl.first))].emplace_back(hl.second, hl.first);
    EXPECT_EQ(Codes(*Find(*table, hl.second, hl.first)), it->second);
  }
  ASSERT_GT(chains[0].size(), static_cast<size_t>(4 * LongChain));
  EXPECT_EQ(Chain(*table, 0), chains[0]);
  EXPECT_EQ(Chain(*table, 1), chains[1]);
  EXPECT_EQ(table->nodeCount, static_cast<int32_t>(model.size()));
  EXPECT_TRUE(ChainsInOrder(*table));
}

// A long chain out of order (only a damaged body brings one) is searched by
// walking, so the index never answers differently from the walk.
TEST(JosekiTable, ALongChainOutOfOrderIsWalked) {
  // One bucket whose chain runs from the smallest key up, one move each.
  const uint32_t count = 2 * LongChain;
  std::vector<uint8_t> raw;
  auto put = [&raw](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) raw.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put(1, 4), put(count, 4), put(count, 4), put(0, 4), put(count, 2);
  for (uint32_t i = 0; i < count; ++i) put(64 + i, 4), put(0, 4), put(i, 4), put(1, 1);
  for (uint32_t i = 0; i < count; ++i) put(1, 2), put(0, 2), put(0, 4);
  JosekiTablePtr table(LoadJosekiTable(raw.data(), static_cast<uint32_t>(raw.size())));
  ASSERT_TRUE(table);
  EXPECT_FALSE(ChainsInOrder(*table));
  // The walk for the largest key stops at the head, whose key is smaller,
  // and puts a second node in front; an index would have found the node
  // that holds the key.
  const uint32_t largest = 64 + count - 1;
  EXPECT_EQ(PutMove(table.get(), K(largest, 0), M(2)), 3);
  EXPECT_EQ(Chain(*table, 0)[0], Key(largest, 0));
  EXPECT_EQ(RemoveMove(table.get(), K(70, 0), M(1)), 0);  // behind the head, so not reached
}

TEST(JosekiTable, ChainsInOrderNeedsEachNodeInItsBucketAndDescendingChains) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  for (uint32_t low : {64, 66, 68, 65}) PutMove(table.get(), K(low, 0), M(1));
  EXPECT_TRUE(ChainsInOrder(*table));
  table->buckets[1]->key = K(70, 0);  // an even key in the odd bucket
  EXPECT_FALSE(ChainsInOrder(*table));
  table->buckets[1]->key = K(65, 0);
  table->buckets[0]->next->key = table->buckets[0]->key;  // the same key twice
  EXPECT_FALSE(ChainsInOrder(*table));
}

TEST(JosekiTable, DestroyAcceptsNull) { DestroyJosekiTable(nullptr); }

}  // namespace
