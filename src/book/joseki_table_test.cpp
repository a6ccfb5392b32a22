#include "book/joseki_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

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
  for (const JosekiNode* node = table.buckets[BucketOf(table, K(low, high))]; node != nullptr; node = node->next) {
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
  bool operator==(const Counts& o) const { return nodes == o.nodes && moves == o.moves && bucket == o.bucket; }
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

// The stored form has a one-byte move count and a 16-bit chain length; a put
// that would pass either is refused whole, while overwrites still work.
TEST(JosekiTable, PutStopsAtStoredFormLimits) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  for (int32_t code = 0; code < MaxMovesPerNode; ++code) {
    ASSERT_EQ(PutMove(table.get(), K(64, 0), M(static_cast<uint16_t>(code))), code == 0 ? 3 : 2);
  }
  EXPECT_EQ(PutMove(table.get(), K(64, 0), M(MaxMovesPerNode)), 0);
  EXPECT_EQ(PutMove(table.get(), K(64, 0), M(7, 1, 1)), 1);
  EXPECT_EQ(CountsOf(*table, 0), (Counts{1, MaxMovesPerNode, 1}));

  // Ascending keys go to the chain's head, so filling a chain stays quick.
  for (uint32_t low = 1; low < static_cast<uint32_t>(MaxNodesPerBucket); ++low) {
    ASSERT_EQ(PutMove(table.get(), K(64 + low, 0), M(1)), 3);
  }
  EXPECT_EQ(table->bucketSizes[0], MaxNodesPerBucket);
  EXPECT_EQ(PutMove(table.get(), K(0xFFFFFF, 0), M(1)), 0);
  EXPECT_EQ(PutMove(table.get(), K(65, 0), M(2)), 2);  // existing node still grows
  EXPECT_EQ(CountsOf(*table, 0), (Counts{MaxNodesPerBucket, MaxMovesPerNode + MaxNodesPerBucket, MaxNodesPerBucket}));
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

TEST(JosekiTable, DestroyAcceptsNull) { DestroyJosekiTable(nullptr); }

}  // namespace
