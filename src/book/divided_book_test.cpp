#include "book/divided_book.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "stream/byte_stream.h"
#include "testing/book_model.h"

namespace {

using namespace merge_test;

const Bytes Magic(DividedBookMagic, DividedBookMagic + 8);

// A small book of its own for each division.
ModelBook DivisionBook(int k) {
  ModelBook book;
  book.bucketCount = 3 + k % 5;
  for (int i = 0; i <= k % 3; ++i) {
    book.nodes.push_back(
        {0x100u + 16 * k + i, static_cast<uint32_t>(k), {Put(static_cast<uint16_t>(i + 1), 0, k)}});
  }
  return Canonical(book);
}

Bytes EmptyBook(uint32_t bucketCount) {
  ModelBook book;
  book.bucketCount = bucketCount;
  return RawBody(book);
}

// An old divided file whose blocks stand in `order`, the first placed at
// `first`; every block is followed by a byte of junk that must never be read.
Bytes OldFile(const std::vector<Bytes>& blocks, const std::vector<int>& order, uint32_t first = 264) {
  Bytes file(first, 0xEE);
  std::copy(Magic.begin(), Magic.end(), file.begin());
  for (int k : order) {
    for (int i = 0; i < 4; ++i) file[8 + 4 * k + i] = static_cast<uint8_t>(file.size() >> (8 * i));
    file.insert(file.end(), blocks[k].begin(), blocks[k].end());
    file.push_back(0xEE);
  }
  return file;
}

std::vector<int> DivisionOrder() {
  std::vector<int> order;
  for (int k = 0; k < DivisionCount; ++k) order.push_back(k);
  return order;
}

struct Outcome {
  int32_t result;
  int32_t packageAt;
  Bytes file;  // the whole new file, magic included
};

class MergeDividedBookTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"old", "new"}) std::remove(TempPath(name).c_str());
  }

  // Runs the merge the way a divided-book entry does.
  Outcome Merge(const Bytes& old, Bytes package) {
    WriteBytes(TempPath("old"), old);
    FileStreamPtr oldFile(OpenFileStream(TempPath("old").c_str(), true));
    FileStreamPtr newFile(OpenFileStream(TempPath("new").c_str(), false));
    MemoryStreamPtr stream(OpenMemoryStream(package.data(), static_cast<uint32_t>(package.size()), true));
    EXPECT_TRUE(oldFile && newFile && stream);
    uint8_t skipped[8];
    EXPECT_EQ(oldFile->Read(skipped, 8), 8);
    EXPECT_EQ(newFile->Write(Magic.data(), 8), 8);
    Outcome outcome;
    outcome.result = MergeDividedBook(stream.get(), oldFile.get(), newFile.get(), MergeThreads());
    outcome.packageAt = stream->Tell();
    EXPECT_EQ(newFile->Close(), 0);
    outcome.file = ReadBytes(TempPath("new"));
    return outcome;
  }

  // Checks the new file's whole layout against the books each division must
  // hold, and returns its offset table.
  std::vector<uint32_t> CheckLayout(const Outcome& outcome, const std::vector<ModelBook>& want,
                                    uint32_t first = 264) {
    EXPECT_EQ(outcome.result, 0);
    const Bytes& file = outcome.file;
    std::vector<uint32_t> offsets;
    if (file.size() < first) {
      ADD_FAILURE() << "new file of " << file.size() << " bytes";
      return offsets;
    }
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Magic);
    for (int k = 0; k < DivisionCount; ++k) offsets.push_back(GetU32(&file[8 + 4 * k]));
    EXPECT_EQ(offsets[0], first);
    for (size_t i = 264; i < first; ++i) EXPECT_EQ(file[i], 0) << "between table and first block, " << i;
    for (int k = 0; k < DivisionCount; ++k) {
      SCOPED_TRACE(testing::Message() << "division " << k);
      Bytes raw;
      uint32_t length = 0;
      if (!UnpackBlock(file, offsets[k], &raw, &length)) {
        ADD_FAILURE() << "division " << k << " does not unpack";
        return offsets;
      }
      ModelBook book;
      EXPECT_TRUE(ParseRawBody(raw, &book));
      EXPECT_EQ(book, want[k]);
      const uint32_t end = offsets[k] + ((length + 3) & ~3u);  // lengths, not offsets, go by 4
      for (uint32_t i = offsets[k] + length; i < end; ++i) EXPECT_EQ(file[i], 0) << "padding byte " << i;
      if (k + 1 < DivisionCount) EXPECT_EQ(offsets[k + 1], end);
      else EXPECT_EQ(file.size(), end);
    }
    return offsets;
  }
};

// An ignored word and then 64 lists that hold only their terminators.
Bytes EmptyLists(uint32_t ignored) {
  DiffList lists;
  lists.End(ignored);
  for (int k = 0; k < DivisionCount; ++k) lists.End(k);
  return lists.bytes();
}

uint32_t PackedLength(const Bytes& raw) {
  uLongf length = compressBound(raw.size());
  Bytes packed(length);
  EXPECT_EQ(compress(packed.data(), &length, raw.data(), raw.size()), Z_OK);
  return static_cast<uint32_t>(length);
}

TEST_F(MergeDividedBookTest, BlocksFollowEachOtherPaddedToFourBytes) {
  // Empty books whose new blocks come to 29 and 32 bytes.
  uint32_t buckets29 = 0, buckets32 = 0;
  for (uint32_t b = 1; b < 2000 && (buckets29 == 0 || buckets32 == 0); ++b) {
    const uint32_t block = 8 + PackedLength(EmptyBook(b));
    if (block == 29 && buckets29 == 0) buckets29 = b;
    if (block == 32 && buckets32 == 0) buckets32 = b;
  }
  ASSERT_NE(buckets29, 0u);
  ASSERT_NE(buckets32, 0u);

  std::vector<Bytes> blocks;
  std::vector<ModelBook> want;
  for (int k = 0; k < DivisionCount; ++k) {
    ModelBook book = DivisionBook(k);
    if (k < 2) book = ModelBook{k == 0 ? buckets29 : buckets32, {}};
    blocks.push_back(PackBlock(RawBody(book), 0));  // stored: the merge must recompress
    want.push_back(book);
  }
  // The word before division 0's list looks like a group's low word; it is
  // passed over all the same.
  const Bytes package = EmptyLists(0x40);
  const Outcome outcome = Merge(OldFile(blocks, DivisionOrder()), package);
  const std::vector<uint32_t> offsets = CheckLayout(outcome, want);
  ASSERT_EQ(offsets.size(), 64u);
  EXPECT_EQ(offsets[1], 296u);
  EXPECT_EQ(offsets[2], 328u);
  EXPECT_EQ(Bytes(outcome.file.begin() + 293, outcome.file.begin() + 296), Bytes(3, 0));
  EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(package.size()));
}

// Divisions 1 to 63 stand in reverse order in the old file; each division's
// list, ended by a different terminator, must reach that division.
TEST_F(MergeDividedBookTest, BlocksInAnyOrderComeOutInDivisionOrder) {
  std::vector<Bytes> blocks;
  std::vector<ModelBook> want;
  DiffList lists;
  lists.End(0x12345678);
  for (int k = 0; k < DivisionCount; ++k) {
    const ModelBook book = DivisionBook(k);
    DiffList list;
    list.Group(0x100 + 16 * k, k, {Put(static_cast<uint16_t>(200 + k), 1, 2), Delete(1)})
        .Group(0x5000 + k, 0, {Put(3)})
        .End(k);
    lists.Group(0x100 + 16 * k, k, {Put(static_cast<uint16_t>(200 + k), 1, 2), Delete(1)})
        .Group(0x5000 + k, 0, {Put(3)})
        .End(k);
    blocks.push_back(PackBlock(RawBody(book)));
    want.push_back(Apply(book, list.records()));
  }
  std::vector<int> order = {0};
  for (int k = DivisionCount - 1; k >= 1; --k) order.push_back(k);

  // Several divisions are merged at once; the file is the same whichever
  // threads do it.
  Bytes reference;
  for (const ThreadCase& t : ThreadCases()) {
    SCOPED_TRACE(t.what);
    const ThreadSetting setting(t.threads, t.starts);
    const Outcome outcome = Merge(OldFile(blocks, order), lists.bytes());
    if (reference.empty()) {
      CheckLayout(outcome, want);
      reference = outcome.file;
    }
    EXPECT_EQ(outcome.file, reference);
    EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(lists.bytes().size()));
  }
}

// The table stays at offset 8 and the first block keeps the old first offset.
TEST_F(MergeDividedBookTest, ALargerFirstOffsetLeavesZerosBehindTheTable) {
  std::vector<Bytes> blocks;
  std::vector<ModelBook> want;
  for (int k = 0; k < DivisionCount; ++k) {
    blocks.push_back(PackBlock(RawBody(DivisionBook(k))));
    want.push_back(DivisionBook(k));
  }
  CheckLayout(Merge(OldFile(blocks, DivisionOrder(), 301), EmptyLists(0)), want, 301);
}

void SetOffset(Bytes* file, int k, uint32_t offset) {
  for (int i = 0; i < 4; ++i) (*file)[8 + 4 * k + i] = static_cast<uint8_t>(offset >> (8 * i));
}

// Offsets that cannot be used fail the merge before anything is written.
TEST_F(MergeDividedBookTest, UnusableOffsetsFailBeforeAnythingIsWritten) {
  std::vector<Bytes> blocks;
  for (int k = 0; k < DivisionCount; ++k) blocks.push_back(PackBlock(RawBody(DivisionBook(k))));
  const Bytes good = OldFile(blocks, DivisionOrder());
  const uint32_t size = static_cast<uint32_t>(good.size());

  struct Case {
    const char* what;
    int division;
    uint32_t offset;
  } cases[] = {
      {"first offset 260", 0, 260},
      {"first offset 0", 0, 0},
      {"an offset at the end of the file", 17, size},
      {"an offset far beyond the file", 30, 0xFFFFFFF0},
      {"no room for a block's counts", 40, size - 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes old = good;
    SetOffset(&old, c.division, c.offset);
    const Outcome outcome = Merge(old, EmptyLists(0));
    EXPECT_EQ(outcome.result, DividedMergeFailed);
    EXPECT_EQ(outcome.file, Magic);
    EXPECT_EQ(outcome.packageAt, 0);
  }
  {
    SCOPED_TRACE("old file shorter than its table");
    const Outcome outcome = Merge(Bytes(good.begin(), good.begin() + 200), EmptyLists(0));
    EXPECT_EQ(outcome.result, DividedMergeFailed);
    EXPECT_EQ(outcome.file, Magic);
  }
}

// Each division is read wherever its offset says, even where divisions name
// one block or blocks that overlap, and gets its own list; the new file
// holds them one behind the other in division order.
TEST_F(MergeDividedBookTest, DivisionsThatShareOrOverlapBlocksAreMerged) {
  std::vector<Bytes> blocks;
  for (int k = 0; k < DivisionCount; ++k) blocks.push_back(PackBlock(RawBody(DivisionBook(k))));
  const Bytes good = OldFile(blocks, DivisionOrder());
  const auto offsetOf = [&good](int k) { return GetU32(&good[8 + 4 * k]); };
  // Division 5's block reaches over division 6's: its packed bytes count
  // division 6's whole block behind its own zlib stream, which the merge
  // passes over.
  Bytes spanning = good;
  {
    const uint32_t at = offsetOf(5);
    const uint32_t spanned = offsetOf(7) - at - 8;
    for (int i = 0; i < 4; ++i) spanning[at + i] = static_cast<uint8_t>(spanned >> (8 * i));
  }

  struct Case {
    const char* what;
    Bytes old;
    std::vector<int> named;  // for each division, the division whose book its block holds
  };
  std::vector<Case> cases;
  {
    Case all{"every division at one block", good, std::vector<int>(DivisionCount, 9)};
    for (int k = 0; k < DivisionCount; ++k) SetOffset(&all.old, k, offsetOf(9));
    cases.push_back(all);
    Case two{"two divisions at one block", good, DivisionOrder()};
    SetOffset(&two.old, 40, offsetOf(3));
    two.named[40] = 3;
    cases.push_back(two);
    cases.push_back({"a block that reaches over the next", spanning, DivisionOrder()});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiffList lists;
    lists.End(0);
    std::vector<ModelBook> want;
    for (int k = 0; k < DivisionCount; ++k) {
      lists.Group(0x4000 + k, 0, {Put(static_cast<uint16_t>(k + 1))}).End();
      want.push_back(Apply(DivisionBook(c.named[k]), {{0x4000u + k, 0, Put(static_cast<uint16_t>(k + 1))}}));
    }
    const Outcome outcome = Merge(c.old, lists.bytes());
    CheckLayout(outcome, want, GetU32(&c.old[8]));  // the first block keeps its offset
    EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(lists.bytes().size()));
  }
}

// A division that cannot be merged ends the whole merge: its length is not
// taken for 0xFFFFFFFF, no later list is read for it, and the new file's
// table still holds zeros.
TEST_F(MergeDividedBookTest, ADivisionThatFailsEndsTheMerge) {
  ModelBook noBuckets;
  struct Case {
    const char* what;
    int division;
    Bytes block;
    bool readsItsList;  // the failure comes after the list was read
  } cases[] = {
      {"a damaged body", 5, {4, 0, 0, 0, 40, 0, 0, 0, 1, 2, 3, 4}, false},
      {"a put into a division without buckets", 3, PackBlock(RawBody(noBuckets)), true},
      // The last block, so that its packed bytes run past the end of the file.
      {"a block cut short by the end of the file", 63, {200, 0, 0, 0, 40, 0, 0, 0, 0x78, 0x9C}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> blocks;
    for (int k = 0; k < DivisionCount; ++k) blocks.push_back(PackBlock(RawBody(DivisionBook(k))));
    blocks[c.division] = c.block;
    DiffList lists;
    lists.End(0);
    size_t listStart = 0, listEnd = 0;
    for (int k = 0; k < DivisionCount; ++k) {
      if (k == c.division) listStart = lists.bytes().size();
      lists.Group(0x4000 + k, 0, {Put(1)}).End();
      if (k == c.division) listEnd = lists.bytes().size();
    }
    // Divisions behind the failed one may already be under way on other
    // threads; none of their work shows.
    for (const ThreadCase& t : ThreadCases()) {
      SCOPED_TRACE(t.what);
      const ThreadSetting setting(t.threads, t.starts);
      const Outcome outcome = Merge(OldFile(blocks, DivisionOrder()), lists.bytes());
      EXPECT_EQ(outcome.result, DividedMergeFailed);
      EXPECT_EQ(outcome.packageAt, static_cast<int32_t>(c.readsItsList ? listEnd : listStart));
      ASSERT_GE(outcome.file.size(), 264u);
      EXPECT_EQ(Bytes(outcome.file.begin() + 8, outcome.file.begin() + 264), Bytes(256, 0));
      // Only the divisions before the failed one were written.
      size_t at = 264;
      for (int k = 0; k < c.division; ++k) {
        Bytes raw;
        uint32_t length = 0;
        ASSERT_TRUE(UnpackBlock(outcome.file, at, &raw, &length));
        at += (length + 3) & ~3u;
      }
      EXPECT_EQ(outcome.file.size(), at);
    }
  }
}

}  // namespace
