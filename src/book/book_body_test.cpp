#include "book/book_body.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "book/book_format.h"
#include "stream/byte_stream.h"
#include "testing/table_dump.h"

namespace {

using Bytes = std::vector<uint8_t>;

PositionKey K(uint32_t low, uint32_t high) { return PositionKey{low, high}; }
BookMove M(uint16_t code, uint16_t aux = 0, uint32_t data = 0) { return BookMove{code, aux, data}; }

void Add32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Add16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

using book_test::Dump;
using book_test::Save;

JosekiTablePtr Load(const Bytes& body) {
  return JosekiTablePtr(LoadJosekiTable(body.data(), static_cast<uint32_t>(body.size())));
}

TEST(BookBody, MagicIsJoSeKi5WithNul) {
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(BookFileMagic), 8), std::string("JoSeKi5\0", 8));
}

TEST(BookBody, RawSizeFollowsCountsAndSaysWhenItOverflows) {
  EXPECT_EQ(RawBodySize(3, 0, 0), 30u);
  EXPECT_EQ(RawBodySize(1, 1, 2), 47u);
  EXPECT_EQ(RawBodySize(65536, 1000000, 4500000), 12u + 6 * 65536 + 13000000 + 36000000);
  EXPECT_EQ(RawBodySize(0, 0x13B13B14u, 0), 0xFFFFFFFFu);
  EXPECT_EQ(RawBodySize(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(BookBody, EmptyTableOfThreeBucketsIs30Bytes) {
  JosekiTablePtr table(CreateJosekiTable(3));
  ASSERT_TRUE(table);
  Bytes expected;
  for (uint32_t v : {3, 0, 0}) Add32(expected, v);
  for (int b = 0; b < 3; ++b) Add32(expected, 0), Add16(expected, 0);
  EXPECT_EQ(Save(*table), expected);
  JosekiTablePtr loaded = Load(expected);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Dump(*loaded), Dump(*table));
}

TEST(BookBody, OneNodeWithTwoMovesIs47Bytes) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(0x40, 0), M(0x1234, 0x5678, 0x9ABCDEF0));
  PutMove(table.get(), K(0x40, 0), M(0x0001, 0xFFFF, 0xFFFFFFFF));
  const Bytes expected = {0x01, 0,    0,    0,    0x01, 0,    0,    0,    0x02, 0, 0, 0,        // header
                          0,    0,    0,    0,    0x01, 0,                                      // bucket 0
                          0x40, 0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0x02,  // node
                          0x34, 0x12, 0x78, 0x56, 0xF0, 0xDE, 0xBC, 0x9A,                       // move 0
                          0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};                      // move 1
  EXPECT_EQ(Save(*table), expected);
  JosekiTablePtr loaded = Load(expected);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Dump(*loaded), Dump(*table));
}

// firstNode and firstMove are running sums over the earlier records.
TEST(BookBody, IndexFieldsAreRunningSums) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(4, 0), M(1));
  PutMove(table.get(), K(4, 0), M(2));
  PutMove(table.get(), K(4, 0), M(3));
  PutMove(table.get(), K(2, 0), M(1));
  PutMove(table.get(), K(3, 0), M(1));
  PutMove(table.get(), K(3, 0), M(2));
  const Bytes body = Save(*table);
  ASSERT_EQ(body.size(), 12u + 12 + 39 + 48);
  auto u32 = [&](size_t at) {
    return body[at] | body[at + 1] << 8 | body[at + 2] << 16 | body[at + 3] << 24;
  };
  EXPECT_EQ(u32(12), 0u);
  EXPECT_EQ(u32(18), 2u);
  const size_t nodes = 24;
  EXPECT_EQ(u32(nodes + 0), 4u);  // bucket 0 head: the larger key
  EXPECT_EQ(u32(nodes + 8), 0u);
  EXPECT_EQ(u32(nodes + 13 + 8), 3u);
  EXPECT_EQ(u32(nodes + 26 + 8), 4u);
  EXPECT_EQ(body[nodes + 26 + 12], 2);
}

TEST(BookBody, IndexFieldsAreNotTrustedOnReading) {
  JosekiTablePtr table(CreateJosekiTable(2));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(4, 0), M(1));
  PutMove(table.get(), K(2, 0), M(1));
  PutMove(table.get(), K(3, 0), M(1));
  Bytes body = Save(*table);
  for (size_t at : {12u, 18u, 24u + 8, 24u + 13 + 8, 24u + 26 + 8}) body[at] ^= 0x5A, body[at + 3] ^= 0x80;
  JosekiTablePtr loaded = Load(body);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Dump(*loaded), Dump(*table));
  EXPECT_EQ(Save(*loaded), Save(*table));
}

// A raw body built field by field: bucket node counts, then node move counts.
Bytes Body(uint32_t buckets, uint32_t nodes, uint32_t moves, const std::vector<uint32_t>& chainLengths,
           const std::vector<uint32_t>& moveCounts, size_t moveRecords) {
  Bytes out;
  Add32(out, buckets), Add32(out, nodes), Add32(out, moves);
  for (uint32_t length : chainLengths) Add32(out, 0), Add16(out, length);
  uint32_t low = 1000;
  for (uint32_t count : moveCounts)
    Add32(out, low--), Add32(out, 0), Add32(out, 0), out.push_back(static_cast<uint8_t>(count));
  for (size_t i = 0; i < moveRecords; ++i) Add32(out, static_cast<uint32_t>(i)), Add32(out, 0);
  return out;
}

TEST(BookBody, DamagedBodiesAreRefused) {
  struct Case {
    const char* what;
    Bytes body;
    bool streamReads;  // a stream may hold more behind a body
  };
  Bytes longer = Body(1, 1, 1, {1}, {1}, 1);
  longer.push_back(0);
  Bytes shorter = Body(1, 1, 1, {1}, {1}, 1);
  shorter.pop_back();
  const Case cases[] = {
      {"shorter than a header", Bytes(11, 0), false},
      {"one byte too many", longer, true},
      {"one byte too few", shorter, false},
      {"chains list fewer nodes than the header", Body(2, 2, 2, {1, 0}, {1, 1}, 2), false},
      {"chains list more nodes than the header", Body(2, 1, 1, {1, 1}, {1}, 1), false},
      {"nodes but no buckets", Body(0, 1, 1, {}, {1}, 1), false},
      {"nodes hold fewer moves than the header", Body(1, 2, 3, {2}, {1, 1}, 3), false},
      {"nodes hold more moves than the header", Body(1, 2, 2, {2}, {2, 1}, 2), false},
      {"a node's count runs past the moves", Body(1, 1, 1, {1}, {255}, 1), false},
      {"counts whose size wraps 32 bits", Body(0, 0x13B13B14u, 0, {}, {}, 0), false},
      {"a bucket count that needs gigabytes", Body(0x2AAAAAAAu, 0, 0, {}, {}, 0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(Load(c.body));
    Bytes copy = c.body;
    MemoryStreamPtr stream(OpenMemoryStream(copy.data(), static_cast<uint32_t>(copy.size()), true));
    JosekiTablePtr read(ReadJosekiTable(stream.get()));
    EXPECT_EQ(static_cast<bool>(read), c.streamReads);
  }
  EXPECT_FALSE(LoadJosekiTable(nullptr, 0));
  EXPECT_FALSE(ReadJosekiTable(nullptr));
}

// A node record without moves stands for no position: it is dropped and the
// counts follow, so the table saves to a body whose counts match its records.
TEST(BookBody, NodeWithoutMovesIsDroppedWithCounts) {
  const Bytes body = Body(2, 3, 2, {2, 1}, {1, 0, 1}, 2);
  JosekiTablePtr table = Load(body);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->nodeCount, 2);
  EXPECT_EQ(table->moveCount, 2);
  EXPECT_EQ(table->bucketSizes[0], 1);
  EXPECT_EQ(table->bucketSizes[1], 1);
  EXPECT_EQ(Dump(*table).find("OUT OF STEP"), std::string::npos) << Dump(*table);
  const Bytes saved = Save(*table);
  EXPECT_EQ(saved.size(), body.size() - 13);
  JosekiTablePtr again = Load(saved);
  ASSERT_TRUE(again);
  EXPECT_EQ(Dump(*again), Dump(*table));
}

TEST(BookBody, SaveRefusesShortBufferAndLeavesRestOfLongOne) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(0x40, 0), M(1));
  const Bytes exact = Save(*table);
  Bytes buffer(exact.size() + 4, 0xEE);
  EXPECT_EQ(SaveJosekiTable(table.get(), buffer.data(), static_cast<uint32_t>(exact.size() - 1)), -1);
  EXPECT_EQ(SaveJosekiTable(table.get(), buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
  EXPECT_TRUE(std::equal(exact.begin(), exact.end(), buffer.begin()));
  EXPECT_EQ(buffer.back(), 0xEE);
  EXPECT_EQ(SaveJosekiTable(nullptr, buffer.data(), 100), -1);
}

// A table whose counts disagree with its chains cannot be stored honestly.
TEST(BookBody, SaveRefusesTableOutOfStep) {
  JosekiTablePtr table(CreateJosekiTable(1));
  ASSERT_TRUE(table);
  PutMove(table.get(), K(0x40, 0), M(1));
  PutMove(table.get(), K(0x40, 0), M(2));
  table->moveCount = 1;
  Bytes buffer(RawBodySize(1, 1, 1));
  EXPECT_EQ(SaveJosekiTable(table.get(), buffer.data(), static_cast<uint32_t>(buffer.size())), -1);
  table->moveCount = 3;
  buffer.resize(RawBodySize(1, 1, 3));
  EXPECT_EQ(SaveJosekiTable(table.get(), buffer.data(), static_cast<uint32_t>(buffer.size())), -1);
  table->moveCount = 2;
}

}  // namespace
