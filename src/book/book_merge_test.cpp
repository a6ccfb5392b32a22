#include "book/book_merge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "stream/byte_stream.h"
#include "testing/book_model.h"

namespace {

using namespace merge_test;

const Bytes Magic = {'J', 'o', 'S', 'e', 'K', 'i', '5', 0};

struct Outcome {
  uint32_t result;
  int32_t packageAt;  // where the package stream stands afterwards
  int32_t oldAt;      // where oldFile stands afterwards
  Bytes written;      // what newFile holds behind its magic
};

// Runs the merge the way a book entry does: both files real, their magics
// already passed, the package a memory stream (or a file, where asked).
class MergeBookDiffTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"old", "new", "package"}) std::remove(TempPath(name).c_str());
  }

  Outcome Merge(const Bytes& oldBody, Bytes package, bool packageOnFile = false) {
    WriteBytes(TempPath("old"), Concat(Magic, oldBody));
    FileStreamPtr oldFile(OpenFileStream(TempPath("old").c_str(), true));
    FileStreamPtr newFile(OpenFileStream(TempPath("new").c_str(), false));
    EXPECT_TRUE(oldFile && newFile);
    uint8_t skipped[8];
    EXPECT_EQ(oldFile->Read(skipped, 8), 8);
    EXPECT_EQ(newFile->Write(Magic.data(), 8), 8);

    StreamPtr stream;
    if (packageOnFile) {
      WriteBytes(TempPath("package"), package);
      stream.reset(OpenFileStream(TempPath("package").c_str(), true));
    } else {
      stream.reset(OpenMemoryStream(package.data(), static_cast<uint32_t>(package.size()), true));
    }
    Outcome outcome;
    outcome.result = MergeBookDiff(stream.get(), oldFile.get(), newFile.get(), MergeThreads());
    outcome.packageAt = stream->Tell();
    outcome.oldAt = oldFile->Tell();
    EXPECT_EQ(newFile->Close(), 0);
    const Bytes file = ReadBytes(TempPath("new"));
    EXPECT_GE(file.size(), 8u);
    outcome.written.assign(file.begin() + 8, file.end());
    return outcome;
  }

  // The merged book; checks that newFile advanced by exactly the result and
  // holds one block whose rawSize is the exact size of its table.
  ModelBook Merged(const Outcome& outcome) {
    ModelBook book;
    EXPECT_NE(outcome.result, MergeFailed);
    EXPECT_EQ(outcome.result, outcome.written.size());
    Bytes raw;
    uint32_t blockLength = 0;
    EXPECT_TRUE(UnpackBlock(outcome.written, 0, &raw, &blockLength));
    EXPECT_EQ(blockLength, outcome.written.size());
    EXPECT_TRUE(ParseRawBody(raw, &book));
    return book;
  }

  static Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

// Two positions in four buckets, moves deliberately out of code order.
ModelBook SmallBook() {
  ModelBook book;
  book.bucketCount = 4;
  book.nodes = {{0x40, 0, {Put(9, 0, 1), Put(3, 2, 2)}}, {0x41, 0, {Put(1, 0, 0)}}};
  return Canonical(book);
}

TEST_F(MergeBookDiffTest, AppliesTheTwentyNineByteExample) {
  ModelBook old = SmallBook();
  old.nodes[0].moves = {Put(9, 0, 1), Put(3, 2, 2)};  // unsorted, as a body may hold them
  const Bytes oldBody = PackBlock(RawBody(old));
  const Bytes list = {0x40, 0, 0, 0, 0,    0,    0,    0,    2,    5,    0,    1,    0,    7,   0,
                      0,    0, 9, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(list.size(), 29u);
  const Outcome outcome = Merge(oldBody, Concat(list, {0x40, 0, 0, 0}));  // the next list follows

  ModelBook want = old;
  want.nodes[0].moves = {Put(3, 2, 2), Put(5, 1, 7)};
  want = Canonical(want);
  EXPECT_EQ(Merged(outcome), want);
  EXPECT_EQ(outcome.packageAt, 29);
  EXPECT_EQ(outcome.oldAt, static_cast<int32_t>(8 + oldBody.size()));
}

struct ListCase {
  const char* what;
  Bytes list;
  int32_t consumed;             // bytes of the package that the merge reads
  std::vector<Record> applied;  // what the list does to SmallBook
  size_t nodes;                 // positions in the merged book
  bool lastInPackage;           // nothing follows the list
};

TEST_F(MergeBookDiffTest, ListsEndAtTheirTerminatorAndConsumeIt) {
  const Bytes after = {0x80, 0, 0, 0, 1, 0, 0, 0, 1,
                       7,    0, 0, 0, 0, 0, 0, 0};  // a group that must stay unread
  const std::vector<ListCase> cases = {
      {"terminator 0", DiffList().End(0).bytes(), 4, {}, 2, false},
      {"terminator 63", DiffList().End(63).bytes(), 4, {}, 2, false},
      {"terminator 0xFFFFFFFF", DiffList().End(0xFFFFFFFF).bytes(), 4, {}, 2, false},
      {"64 starts a group",
       DiffList().Group(64, 5, {Put(2, 3, 4)}).End(0).bytes(),
       9 + 8 + 4,
       {{64, 5, Put(2, 3, 4)}},
       3,
       false},
      {"groups of count 0",
       DiffList().Group(0x40, 0, {}).Group(500, 9, {}).Group(0x41, 0, {Put(6)}).End().bytes(),
       3 * 9 + 8 + 4,
       {{0x41, 0, Put(6)}},
       2,
       false},
      {"delete of an absent code",
       DiffList().Group(0x40, 0, {Delete(4)}).End().bytes(),
       9 + 8 + 4,
       {},
       2,
       false},
      {"delete at an absent position",
       DiffList().Group(0x99, 0, {Delete(9)}).End().bytes(),
       9 + 8 + 4,
       {},
       2,
       false},
      {"delete of the last move removes the position",
       DiffList().Group(0x41, 0, {Delete(1)}).End().bytes(),
       9 + 8 + 4,
       {{0x41, 0, Delete(1)}},
       1,
       false},
      {"put then delete leaves no trace",
       DiffList().Group(777, 3, {Put(8, 1, 1)}).Group(777, 3, {Delete(8)}).End().bytes(),
       2 * (9 + 8) + 4,
       {},
       2,
       false},
      {"aux 0xFFFF alone is a put",
       DiffList().Group(0x40, 0, {Put(7, 0xFFFF, 0), Put(8, 0, 0xFFFFFFFF)}).End().bytes(),
       9 + 16 + 4,
       {{0x40, 0, Put(7, 0xFFFF, 0)}, {0x40, 0, Put(8, 0, 0xFFFFFFFF)}},
       2,
       false},
      {"overwrite replaces all 8 bytes",
       DiffList().Group(0x40, 0, {Put(3, 9, 99)}).End().bytes(),
       9 + 8 + 4,
       {{0x40, 0, Put(3, 9, 99)}},
       2,
       false},
      {"the end of the data ends a list",
       DiffList().Group(0x40, 0, {Put(12)}).bytes(),
       9 + 8,
       {{0x40, 0, Put(12)}},
       2,
       true},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome =
        Merge(PackBlock(RawBody(SmallBook())), c.lastInPackage ? c.list : Concat(c.list, after));
    EXPECT_EQ(outcome.packageAt, c.consumed);
    const ModelBook merged = Merged(outcome);
    EXPECT_EQ(merged, Apply(SmallBook(), c.applied));
    EXPECT_EQ(merged.nodes.size(), c.nodes);
  }
}

TEST_F(MergeBookDiffTest, AListOfOnlyItsTerminatorStillSortsAndRecompresses) {
  ModelBook old = SmallBook();
  old.nodes[0].moves = {Put(0x8000), Put(0x7FFF), Put(2)};
  const Bytes oldBody = PackBlock(RawBody(old), 0);  // stored, not deflated
  const Outcome outcome = Merge(oldBody, DiffList().End().bytes());
  ModelBook want = old;
  want.nodes[0].moves = {Put(2), Put(0x7FFF), Put(0x8000)};
  EXPECT_EQ(Merged(outcome), want);
  EXPECT_LT(outcome.written.size(), oldBody.size());
}

// A package that ends anywhere inside a list applies exactly the records that
// lie whole before the cut, on a memory stream and on a file stream (where
// missing bytes would read as 0xFF).
TEST_F(MergeBookDiffTest, APackageCutAtEveryLengthAppliesOnlyWholeRecords) {
  DiffList list;
  list.Group(0x40, 0, {Put(5, 1, 2), Delete(9), Put(11, 0xFFFF, 0xFFFFFFFE)})
      .Group(0x1000, 0xFFFFFFFF, {Put(1)})
      .Group(0x41, 0, {Delete(1), Put(4, 4, 4)});
  const Bytes& full = list.bytes();
  // The byte offset behind each record, in stream order.
  const std::vector<size_t> recordEnds = {9 + 8, 9 + 16, 9 + 24, 33 + 9 + 8, 50 + 9 + 8, 50 + 9 + 16};
  ASSERT_EQ(full.size(), recordEnds.back());
  for (bool onFile : {false, true}) {
    for (size_t length = 0; length <= full.size(); ++length) {
      SCOPED_TRACE(testing::Message()
                   << (onFile ? "file" : "memory") << " package of " << length << " bytes");
      std::vector<Record> whole;
      for (size_t i = 0; i < recordEnds.size(); ++i) {
        if (recordEnds[i] <= length) whole.push_back(list.records()[i]);
      }
      const Outcome outcome =
          Merge(PackBlock(RawBody(SmallBook())), Bytes(full.begin(), full.begin() + length), onFile);
      EXPECT_EQ(Merged(outcome), Apply(SmallBook(), whole));
      EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(length));
    }
  }
}

// Many groups over a book of many chains, checked against the plain model:
// new positions, appends, overwrites, deletes of present and absent moves, the
// same position named again, all in stream order. Thirteen buckets give short
// chains; two give chains long enough to be searched through their index.
//
// With threads, a list is read before the body and applied bucket by bucket
// as the body loads, unless it is too long to hold (4,000 groups here): the
// same table either way.
TEST_F(MergeBookDiffTest, AgreesWithThePlainModelOnARandomDiff) {
  for (const auto& [bucketCount, groups] : {std::pair{13u, 600}, std::pair{2u, 600}, std::pair{13u, 4000}}) {
    SCOPED_TRACE(std::to_string(bucketCount) + " buckets, " + std::to_string(groups) + " groups");
    std::mt19937 random(12345);
    auto draw = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    ModelBook old;
    old.bucketCount = bucketCount;
    std::vector<std::pair<uint32_t, uint32_t>> keys;
    for (int i = 0; i < 300; ++i) {
      const uint32_t low = 64 + draw(0x7FFFFFFF), high = (i % 3 == 0) ? 7 : static_cast<uint32_t>(random());
      keys.push_back({low, high});
      ModelNode node{low, high, {}};
      const uint32_t moves = 1 + draw(8);
      for (uint32_t m = 0; m < moves; ++m)
        node.moves.push_back(Put(static_cast<uint16_t>(m * 37 + draw(30)), 0, draw(1000)));
      std::sort(node.moves.begin(), node.moves.end(),
                [](const BookMove& a, const BookMove& b) { return a.code < b.code; });
      node.moves.erase(std::unique(node.moves.begin(), node.moves.end(),
                                   [](const BookMove& a, const BookMove& b) { return a.code == b.code; }),
                       node.moves.end());
      old.nodes.push_back(node);
    }
    old = Canonical(old);
    DiffList list;
    for (int g = 0; g < groups; ++g) {
      if (draw(4) == 0) keys.push_back({64 + draw(0x7FFFFFFF), static_cast<uint32_t>(random())});
      const auto key = keys[draw(static_cast<uint32_t>(keys.size()))];
      std::vector<BookMove> records;
      const uint32_t count = draw(5);
      for (uint32_t r = 0; r < count; ++r) {
        const uint16_t code = static_cast<uint16_t>(draw(300));
        records.push_back(draw(3) == 0 ? Delete(code)
                                       : Put(code, static_cast<uint16_t>(draw(0x10000)), draw(50)));
      }
      list.Group(key.first, key.second, records);
    }
    list.End(17);
    const ModelBook expected = Apply(old, list.records());
    for (const ThreadCase& t : ThreadCases()) {
      SCOPED_TRACE(t.what);
      const ThreadSetting setting(t.threads, t.starts);
      const Outcome outcome = Merge(PackBlock(RawBody(old), 9), list.bytes());
      EXPECT_EQ(Merged(outcome), expected);
      EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(list.bytes().size()));
    }
  }
}

// A body of a few megabytes unpacks in many pieces, is loaded while it
// unpacks when threads are to be had, and packs into several chunks: the
// result is the same whichever threads do the work, and a body damaged
// anywhere still fails with nothing written.
TEST_F(MergeBookDiffTest, ALargeBodyMergesAlikeOnAnyThreads) {
  std::mt19937 random(99);
  ModelBook old;
  old.bucketCount = 4099;
  for (uint32_t i = 0; i < 60000; ++i) {
    ModelNode node{64 + i * 7919u, static_cast<uint32_t>(random()), {}};
    for (uint32_t m = 0, moves = 1 + random() % 6; m < moves; ++m)
      node.moves.push_back(Put(static_cast<uint16_t>(m * 11 + random() % 10), 0, random() % 5000));
    old.nodes.push_back(node);
  }
  old = Canonical(old);
  DiffList list;
  for (uint32_t g = 0; g < 3000; ++g) {
    const ModelNode& node = old.nodes[random() % old.nodes.size()];
    list.Group(node.low, node.high, {Put(static_cast<uint16_t>(random() % 70)), Delete(node.moves[0].code)});
  }
  list.End();
  const Bytes good = PackBlock(RawBody(old));
  Bytes garbage = good, cut(good.begin(), good.end() - 1);
  garbage[good.size() * 3 / 4] ^= 0x55;
  const ModelBook expected = Apply(old, list.records());

  Bytes reference;
  for (const ThreadCase& t : ThreadCases()) {
    SCOPED_TRACE(t.what);
    const ThreadSetting setting(t.threads, t.starts);
    const Outcome outcome = Merge(good, list.bytes());
    if (reference.empty()) {
      EXPECT_EQ(Merged(outcome), expected);
      EXPECT_GT(outcome.written.size(), size_t{2} * 1024 * 1024 / 3);
      reference = outcome.written;
    }
    EXPECT_EQ(outcome.written, reference);
    for (const Bytes* damaged : {&garbage, &cut}) {
      const Outcome failed = Merge(*damaged, list.bytes());
      EXPECT_EQ(failed.result, MergeFailed);
      EXPECT_TRUE(failed.written.empty());
      EXPECT_EQ(failed.packageAt, 0);
    }
  }
}

// A node with 255 moves or a bucket with 65535 nodes is as full as the stored
// form goes. The records take effect in stream order on a table that may pass
// those limits on the way: a list that comes back within them merges, and
// only a table still beyond them when it is saved fails the merge, with
// nothing written.
TEST_F(MergeBookDiffTest, TheStoredFormsLimitsHoldForTheTableTheListLeaves) {
  ModelBook fullNode;
  fullNode.bucketCount = 2;
  fullNode.nodes.push_back({0x40, 0, {}});
  for (int code = 0; code < 255; ++code) fullNode.nodes[0].moves.push_back(Put(static_cast<uint16_t>(code)));
  ModelBook fullBucket;
  fullBucket.bucketCount = 1;
  for (uint32_t i = 0; i < 65535; ++i) fullBucket.nodes.push_back({0x40 + i, 0, {Put(1)}});
  fullBucket = Canonical(fullBucket);

  struct Case {
    const char* what;
    const ModelBook* book;
    DiffList list;
    bool merges;
  } cases[] = {
      {"overwrite in a full node", &fullNode, DiffList().Group(0x40, 0, {Put(254, 1, 1)}).End(), true},
      {"256th move, then a delete", &fullNode,
       DiffList().Group(0x40, 0, {Put(255, 2, 2)}).Group(0x41, 0, {Put(1)}).Group(0x40, 0, {Delete(3)}).End(),
       true},
      {"300 moves, then 45 deletes", &fullNode,
       [] {
         DiffList list;
         std::vector<BookMove> puts, deletes;
         for (uint16_t code = 255; code < 300; ++code) puts.push_back(Put(code, 3, code));
         for (uint16_t code = 100; code < 145; ++code) deletes.push_back(Delete(code));
         return list.Group(0x40, 0, puts).Group(0x40, 0, deletes).End();
       }(),
       true},
      {"65536th node, then a node removed", &fullBucket,
       DiffList().Group(0x40 + 65535, 0, {Put(1)}).Group(0x40 + 7, 0, {Delete(1)}).End(), true},
      {"65536th node, removed again", &fullBucket,
       DiffList().Group(0x40 + 65535, 0, {Put(1), Delete(1)}).End(), true},
      {"256th move kept", &fullNode, DiffList().Group(0x40, 0, {Put(255)}).Group(0x41, 0, {Put(1)}).End(),
       false},
      {"256th move, a delete of a code it lacks", &fullNode,
       DiffList().Group(0x40, 0, {Put(255), Delete(300)}).End(), false},
      {"65536th node kept", &fullBucket, DiffList().Group(0x40 + 65535, 0, {Put(1)}).End(), false},
  };
  // With threads, the table is saved while the body packs: a save that
  // stops must stop the packing too.
  for (const ThreadCase& t : ThreadCases()) {
    const ThreadSetting setting(t.threads, t.starts);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + t.what);
      const Outcome outcome = Merge(PackBlock(RawBody(*c.book)), c.list.bytes());
      EXPECT_EQ(outcome.packageAt,
                static_cast<int32_t>(c.list.bytes().size()));  // behind the list either way
      if (c.merges) {
        EXPECT_EQ(Merged(outcome), Apply(*c.book, c.list.records()));
      } else {
        EXPECT_EQ(outcome.result, MergeFailed);
        EXPECT_TRUE(outcome.written.empty());
      }
    }
  }
}

Bytes WithCounts(uint32_t packedSize, uint32_t rawSize, const Bytes& rest) {
  Bytes block;
  PutU32(&block, packedSize);
  PutU32(&block, rawSize);
  block.insert(block.end(), rest.begin(), rest.end());
  return block;
}

// Every way the merge can fail leaves newFile exactly as it was and answers
// MergeFailed; a body that cannot be used leaves the package unread, on
// any number of threads.
TEST_F(MergeBookDiffTest, AFailedMergeWritesNothing) {
  const Bytes raw = RawBody(SmallBook());
  const Bytes good = PackBlock(raw);
  const Bytes stream(good.begin() + 8, good.end());
  const uint32_t packed = static_cast<uint32_t>(stream.size()), rawSize = static_cast<uint32_t>(raw.size());
  Bytes garbage = stream;
  garbage[garbage.size() / 2] ^= 0x55;
  garbage[garbage.size() - 1] ^= 0x55;  // the checksum at the least
  Bytes badCounts = raw;
  badCounts[4] += 1;  // one node more than the records hold
  ModelBook noBuckets;
  ModelBook ascending;  // a chain from the smallest key up
  ascending.bucketCount = 1;
  ascending.nodes = {{0x40, 0, {Put(1)}}, {0x41, 0, {Put(1)}}};
  ModelBook twoBuckets;
  twoBuckets.bucketCount = 2;
  twoBuckets.nodes = {{0x40, 0, {Put(1)}}};
  Bytes foreign = RawBody(twoBuckets);
  foreign[16] = 0;  // bucket 0 holds no node,
  foreign[22] = 1;  // bucket 1 holds the even key
  DiffList put, deleteOnly;
  put.Group(0x40, 0, {Put(1)}).End();
  deleteOnly.Group(0x40, 0, {Delete(1)}).End();

  struct Case {
    const char* what;
    Bytes oldBody;
    const DiffList* list;
    int32_t packageAt;
  } cases[] = {
      {"empty old file", {}, &put, 0},
      {"counts cut short", Bytes(good.begin(), good.begin() + 6), &put, 0},
      {"packed bytes cut short", Bytes(good.begin(), good.end() - 1), &put, 0},
      {"packedSize far beyond the file", WithCounts(0x7FFFFFFF, rawSize, stream), &put, 0},
      {"damaged zlib stream", WithCounts(packed, rawSize, garbage), &put, 0},
      {"not a zlib stream", WithCounts(8, rawSize, {1, 2, 3, 4, 5, 6, 7, 8}), &put, 0},
      {"rawSize one too large", WithCounts(packed, rawSize + 1, stream), &put, 0},
      {"rawSize one too small", WithCounts(packed, rawSize - 1, stream), &put, 0},
      {"absurd rawSize", WithCounts(packed, 0xFFFFFFF0, stream), &put, 0},
      {"rawSize 0", WithCounts(packed, 0, stream), &put, 0},
      {"raw body whose counts disagree", PackBlock(badCounts), &put, 0},
      {"raw body of 11 bytes", PackBlock(Bytes(11, 0)), &put, 0},
      {"chain out of order", PackBlock(RawBody(ascending)), &put, 0},
      {"position outside its bucket", PackBlock(foreign), &put, 0},
      {"put into a table without buckets", PackBlock(RawBody(noBuckets)), &put,
       static_cast<int32_t>(put.bytes().size())},
  };
  // With threads, the list is read while the body loads: the package must
  // still end up where the merge of one thread leaves it.
  for (const ThreadCase& t : ThreadCases()) {
    const ThreadSetting setting(t.threads, t.starts);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + t.what);
      const Outcome outcome = Merge(c.oldBody, c.list->bytes());
      EXPECT_EQ(outcome.result, MergeFailed);
      EXPECT_TRUE(outcome.written.empty());
      EXPECT_EQ(outcome.packageAt, c.packageAt);
    }
  }

  // Deleting from a table without buckets finds nothing and is no failure.
  EXPECT_EQ(Merged(Merge(PackBlock(RawBody(noBuckets)), deleteOnly.bytes())), noBuckets);
}

TEST_F(MergeBookDiffTest, ANewFileThatTakesOnlyPartOfTheBodyIsAFailure) {
  Bytes oldBody = PackBlock(RawBody(SmallBook()));
  WriteBytes(TempPath("old"), oldBody);
  FileStreamPtr oldFile(OpenFileStream(TempPath("old").c_str(), true));
  Bytes list = DiffList().End().bytes();
  MemoryStreamPtr package(OpenMemoryStream(list.data(), static_cast<uint32_t>(list.size()), true));
  Bytes small(20);
  MemoryStreamPtr newFile(OpenMemoryStream(small.data(), static_cast<uint32_t>(small.size()), false));
  ASSERT_TRUE(oldFile && package && newFile);
  EXPECT_EQ(MergeBookDiff(package.get(), oldFile.get(), newFile.get()), MergeFailed);
}

}  // namespace
