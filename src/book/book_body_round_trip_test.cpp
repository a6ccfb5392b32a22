// Round trips of tables through raw bodies (memory and streams), and damaged
// bodies that must load into a sound table or not at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "book/body_loader.h"
#include "book/body_saver.h"
#include "book/book_format.h"
#include "book/book_body.h"
#include "stream/byte_stream.h"
#include "testing/table_dump.h"

namespace {

using Bytes = std::vector<uint8_t>;

using book_test::Dump;
using book_test::Save;

JosekiTablePtr Load(const Bytes& body, size_t size) {
  return JosekiTablePtr(LoadJosekiTable(body.data(), static_cast<uint32_t>(size)));
}

// Applies `steps` random puts and removes over a small key space, so that
// chains grow long, nodes gain and lose moves, and nodes vanish.
void Churn(JosekiTable* table, std::mt19937& random, int steps) {
  std::uniform_int_distribution<uint32_t> word(0, 40), code(0, 12), any;
  for (int i = 0; i < steps; ++i) {
    const PositionKey key{word(random) * 0x10001u,
                          word(random) % 5 == 0 ? 0x80000000u + word(random) : word(random)};
    const BookMove move{static_cast<uint16_t>(code(random) * 0x1555), static_cast<uint16_t>(any(random)),
                        any(random)};
    if (any(random) % 3 == 0) {
      RemoveMove(table, key, move);
    } else {
      PutMove(table, key, move);
    }
  }
}

JosekiTablePtr RandomTable(std::mt19937& random, int32_t buckets, int steps) {
  JosekiTablePtr table(CreateJosekiTable(buckets));
  if (table) Churn(table.get(), random, steps);
  return table;
}

TEST(BookBodyRoundTrip, RandomTablesReloadEqualAndKeepChanging) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const int32_t buckets = round % 10 == 0 ? 0 : 1 + static_cast<int32_t>(random() % 13);
    JosekiTablePtr table = RandomTable(random, buckets, static_cast<int>(random() % 400));
    ASSERT_TRUE(table);
    if (round % 2 == 1) SortMoves(table.get());
    const Bytes body = Save(*table);
    JosekiTablePtr loaded = Load(body, body.size());
    ASSERT_TRUE(loaded);
    ASSERT_EQ(Dump(*loaded), Dump(*table));
    EXPECT_EQ(Save(*loaded), body);

    // The loaded table keeps its nodes in shared blocks; the same changes on
    // both tables must still give the same result, mixing in nodes and move
    // arrays of their own (the sanitizers check the freeing of both kinds).
    std::mt19937 a(static_cast<uint32_t>(round)), b(static_cast<uint32_t>(round));
    Churn(table.get(), a, 300);
    Churn(loaded.get(), b, 300);
    SortMoves(table.get());
    SortMoves(loaded.get());
    ASSERT_EQ(Dump(*loaded), Dump(*table));
    EXPECT_EQ(Dump(*loaded).find("OUT OF STEP"), std::string::npos);
    EXPECT_EQ(Save(*loaded), Save(*table));
  }
}

TEST(BookBodyRoundTrip, StreamsCarryTheSameBytes) {
  std::mt19937 random(7);
  // Large enough that reading gathers the body in several pieces.
  JosekiTablePtr big = RandomTable(random, 64, 0);
  ASSERT_TRUE(big);
  for (uint32_t i = 0; i < 6000; ++i) {
    for (uint32_t c = 0; c <= i % 5; ++c) {
      const PositionKey key{static_cast<uint32_t>(uint64_t{i} * 2654435761u), i};
      PutMove(big.get(), key, BookMove{static_cast<uint16_t>(c), 1, i});
    }
  }
  JosekiTablePtr small = RandomTable(random, 5, 200);
  ASSERT_TRUE(small);
  const Bytes bigBody = Save(*big), smallBody = Save(*small);
  ASSERT_GT(bigBody.size(), 3 * 64 * 1024u);

  Bytes block(bigBody.size());
  MemoryStreamPtr out(OpenMemoryStream(block.data(), static_cast<uint32_t>(block.size()), false));
  EXPECT_EQ(WriteJosekiTable(big.get(), out.get()), 0);
  EXPECT_EQ(block, bigBody);

  // Two bodies back to back in a real file: each read stops right behind
  // its body, and a read at the end of the file finds nothing.
  const std::string path = testing::TempDir() + "book_body_round_trip.bin";
  {
    FileStreamPtr file(OpenFileStream(path.c_str(), false));
    ASSERT_TRUE(file);
    EXPECT_EQ(WriteJosekiTable(small.get(), file.get()), 0);
    EXPECT_EQ(WriteJosekiTable(big.get(), file.get()), 0);
  }
  FileStreamPtr file(OpenFileStream(path.c_str(), true));
  ASSERT_TRUE(file);
  JosekiTablePtr first(ReadJosekiTable(file.get()));
  JosekiTablePtr second(ReadJosekiTable(file.get()));
  JosekiTablePtr third(ReadJosekiTable(file.get()));
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_FALSE(third);
  EXPECT_EQ(Dump(*first), Dump(*small));
  EXPECT_EQ(Dump(*second), Dump(*big));
  file.reset();
  std::remove(path.c_str());
}

TEST(BookBodyRoundTrip, WriteReportsAStreamThatTakesTooLittle) {
  std::mt19937 random(3);
  JosekiTablePtr table = RandomTable(random, 3, 50);
  ASSERT_TRUE(table);
  Bytes block(Save(*table).size() - 1);
  MemoryStreamPtr tooShort(OpenMemoryStream(block.data(), static_cast<uint32_t>(block.size()), false));
  EXPECT_EQ(WriteJosekiTable(table.get(), tooShort.get()), -1);
  MemoryStreamPtr reading(OpenMemoryStream(block.data(), static_cast<uint32_t>(block.size()), true));
  EXPECT_EQ(WriteJosekiTable(table.get(), reading.get()), -1);
}

// Whatever a damaged body holds, it loads into a table that keeps every
// invariant the writer relies on, or it does not load.
void ExpectSoundOrRefused(const Bytes& body, size_t size) {
  JosekiTablePtr table = Load(body, size);
  Bytes copy(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
  MemoryStreamPtr stream(OpenMemoryStream(copy.data(), static_cast<uint32_t>(size), true));
  JosekiTablePtr read(ReadJosekiTable(stream.get()));
  EXPECT_EQ(static_cast<bool>(read), static_cast<bool>(table));
  if (!table) return;
  const std::string dump = Dump(*table);
  ASSERT_EQ(dump.find("OUT OF STEP"), std::string::npos) << dump;
  EXPECT_EQ(Dump(*read), dump);
  const Bytes saved = Save(*table);
  JosekiTablePtr again = Load(saved, saved.size());
  ASSERT_TRUE(again);
  EXPECT_EQ(Dump(*again), dump);
  // Changing it must be as safe as changing any table: grow the first node,
  // then take all its moves away so that it goes.
  PutMove(table.get(), PositionKey{1, 1}, BookMove{1, 0, 0});
  const JosekiNode* head = nullptr;
  for (int32_t b = 0; b < table->bucketCount && head == nullptr; ++b) head = table->buckets[b];
  if (head != nullptr) {
    const PositionKey key = head->key;
    PutMove(table.get(), key, BookMove{static_cast<uint16_t>(head->moves[0].code + 1), 0, 0});
    std::vector<BookMove> moves(head->moves, head->moves + head->moveCount);
    for (const BookMove& move : moves) RemoveMove(table.get(), key, move);
  }
  ASSERT_EQ(Dump(*table).find("OUT OF STEP"), std::string::npos);
  SortMoves(table.get());
}

TEST(BookBodyDamage, EveryTruncationIsRefused) {
  std::mt19937 random(11);
  JosekiTablePtr table = RandomTable(random, 3, 60);
  ASSERT_TRUE(table);
  const Bytes body = Save(*table);
  ASSERT_GT(table->nodeCount, 4);
  for (size_t size = 0; size < body.size(); ++size) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(Load(body, size));
    Bytes copy(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
    MemoryStreamPtr stream(OpenMemoryStream(copy.data(), static_cast<uint32_t>(size), true));
    EXPECT_FALSE(JosekiTablePtr(ReadJosekiTable(stream.get())));
  }
}

TEST(BookBodyDamage, EveryFlippedByteLoadsSoundlyOrNotAtAll) {
  std::mt19937 random(12);
  JosekiTablePtr table = RandomTable(random, 3, 60);
  ASSERT_TRUE(table);
  const Bytes body = Save(*table);
  int loaded = 0, refused = 0;
  for (size_t at = 0; at < body.size(); ++at) {
    for (uint8_t mask : {0x01, 0x02, 0x80, 0xFF}) {
      SCOPED_TRACE(testing::Message() << "byte " << at << " ^ " << int{mask});
      Bytes damaged = body;
      damaged[at] ^= mask;
      ExpectSoundOrRefused(damaged, damaged.size());
      (Load(damaged, damaged.size()) ? loaded : refused) += 1;
    }
  }
  // Both outcomes occur: flips in moves and keys load, flips in counts not.
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

// The loader fed a few bytes at a time and the saver given little room at a
// time give what the whole-body calls give; a bucket the loader calls whole
// already holds its final chain, and a record is never split.
TEST(BookBodyRoundTrip, BodiesLoadAndSaveAlikeInPieces) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    JosekiTablePtr table = RandomTable(random, 1 + static_cast<int32_t>(random() % 9), 300);
    ASSERT_TRUE(table);
    const Bytes body = Save(*table);
    const JosekiTablePtr reference = Load(body, body.size());
    ASSERT_TRUE(reference);
    for (const uint32_t step : {1u, 7u, 13u, 4096u}) {
      BodyLoader loader(body.data(), static_cast<uint32_t>(body.size()));
      int32_t state = LoadGoing;
      for (uint32_t there = 0; state == LoadGoing; there += step) {
        state = loader.Feed(there < body.size() ? there : static_cast<uint32_t>(body.size()));
        if (there < body.size()) {
          ASSERT_NE(state, LoadDone) << there;
        }
        if (loader.Table() == nullptr) continue;
        for (uint32_t b = 0; b < loader.WholeBuckets(); ++b) {
          // Bucket b alone, in the loading table and in the whole one.
          JosekiTable one = *reference, part = *loader.Table();
          for (JosekiTable* t : {&one, &part}) {
            t->buckets += b;
            t->bucketSizes += b;
            t->bucketCount = 1;
          }
          one.nodeCount = part.nodeCount = one.bucketSizes[0];
          one.moveCount = part.moveCount = 0;
          for (const JosekiNode* n = one.buckets[0]; n != nullptr; n = n->next) one.moveCount += n->moveCount;
          part.moveCount = one.moveCount;
          ASSERT_EQ(Dump(part), Dump(one)) << "bucket " << b << " called whole at " << there << ", step " << step;
        }
      }
      ASSERT_EQ(state, LoadDone);
      EXPECT_EQ(Dump(*loader.Take()), Dump(*reference));
    }
    for (const uint32_t room : {MostRecordSize, 3000u, 65536u}) {
      BodySaver saver(reference.get());
      Bytes saved(body.size() + room);
      uint32_t at = 0, written = 0;
      int32_t state = saver.Save(saved.data(), RawHeaderSize - 1, &written);
      EXPECT_EQ(state, SaveGoing);
      EXPECT_EQ(written, 0u);  // no record is split
      while ((state = saver.Save(saved.data() + at, room, &written)) == SaveGoing) {
        ASSERT_GT(written, 0u);
        at += written;
      }
      ASSERT_EQ(state, SaveDone);
      saved.resize(at + written);
      EXPECT_EQ(saved, body) << "room " << room;
    }
  }
}

}  // namespace
