// The text form of books: dump then pack gives the same book, pack then
// dump the same text, and a text that is not a book is refused at its line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"
#include "publish/book_text.h"

namespace {

using namespace fixpack_test;

std::string String(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(FixpackTextTest, DumpThenPackGivesTheSameBookForRandomBooks) {
  ScratchFolder folder;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BookMaker maker(seed);
    std::string text;
    std::vector<std::string> options;
    if (seed % 4 == 0) {
      // Some divisions are left out of the text; they come back empty.
      for (uint32_t k = 0; k < 64; k += 1 + maker.Below(3)) {
        text += "division " + std::to_string(k) + " buckets " + std::to_string(1 + maker.Below(9)) + "\n" +
                BodyText(maker.Book(maker.Below(8)));
      }
    } else if (seed % 4 == 1) {
      text = BodyText(maker.Book(maker.Below(60)));
      options = {"--divided", "--buckets", std::to_string(1 + maker.Below(9))};
    } else {
      text = "buckets " + std::to_string(1 + maker.Below(30)) + "\n" +
             BodyText(maker.Book(maker.Below(60), 255));
    }
    folder.Put("book.txt", Text(text));
    std::vector<std::string> pack = {folder / "book.txt", "-o", folder / "book"};
    pack.insert(pack.end(), options.begin(), options.end());
    const Outcome packed = RunTool(RunPack, pack);
    ASSERT_EQ(packed.status, 0) << packed.err;

    const Outcome dumped = RunTool(RunDump, {folder / "book", "-o", folder / "dump.txt"});
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    ASSERT_EQ(RunTool(RunPack, {folder / "dump.txt", "-o", folder / "again"}).status, 0);
    EXPECT_EQ(folder.Get("again"), folder.Get("book"));

    // The dump on stdout is the same text, and it is stable.
    const Outcome toStdout = RunTool(RunDump, {folder / "again"});
    EXPECT_EQ(toStdout.out, String(folder.Get("dump.txt")));
  }
}

// A book's moves come out sorted whatever order the text gives, and the
// dump lists positions in stored order: by bucket, each chain descending.
TEST(FixpackTextTest, PackWritesTheStoredOrder) {
  ScratchFolder folder;
  folder.Put("book.txt", Text("buckets 2  # two buckets\n"
                              "00000041 00000000 0009:0000:00000000 0002:0001:00000003\n"
                              "00000040 00000001 0001:0000:00000000\n"
                              "00000042 00000000 0005:0000:00000000  # alone in bucket 0\n"));
  ASSERT_EQ(RunTool(RunPack, {folder / "book.txt", "-o", folder / "book"}).status, 0);
  const Outcome dumped = RunTool(RunDump, {folder / "book"});
  EXPECT_TRUE(Contains(dumped.out,
                       "buckets 2\n"
                       "00000042 00000000 0005:0000:00000000\n"
                       "00000040 00000001 0001:0000:00000000\n"
                       "00000041 00000000 0002:0001:00000003 0009:0000:00000000\n"))
      << dumped.out;
}

TEST(FixpackTextTest, RefusesTextThatIsNoBookAtItsLine) {
  struct Case {
    const char* text;
    const char* error;  // what stderr must hold
  } cases[] = {
      {"buckets 1\nbuckets 2\n", ":2: a second buckets line"},
      {"buckets 0\n", ":1: a bucket count is a decimal number"},
      {"buckets 16777217\n", ":1: a bucket count"},
      {"00000040 00000000\n", ":1: a position needs at least one move"},
      {"00000040\n", ":1: a position line needs the key's high word"},
      {"hello 0 1:2:3\n", ":1: 'hello' is neither a keyword"},
      {"# fine\n00000040 0 1:2\n", ":2: move 1 '1:2' is not code:aux:data"},
      {"40 0 12345:0:0\n", ":1: move 1 '12345:0:0'"},
      {"40 0 1:0:123456789\n", ":1: move 1"},
      {"40 0 1:0:0\ndivision 1\n", ":2: a division line after positions"},
      {"division 2\ndivision 1\n", ":2: division 1 does not come after division 2"},
      {"division 64\n", ":1: a division is numbered from 0 to 63"},
      {"division 1 bucket 3\n", ":1: a division line is"},
      {"division 1\nbuckets 3\n", ":2: the buckets line must come before"},
      {"40 0 1:0:0 2:0:0\n41 0 1:0:0\n40 0 3:0:0\n", ":3: the position stands on line 1 already"},
      {"40 0 1:0:0 2:0:0 1:5:5\n", ":1: code 0001 stands twice"},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    folder.Put("book.txt", Text(c.text));
    const Outcome outcome = RunTool(RunPack, {folder / "book.txt", "-o", folder / "book"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.err, "book.txt" + std::string(c.error))) << outcome.err;
    EXPECT_FALSE(folder.Has("book"));
  }
}

TEST(FixpackTextTest, RefusesMoreMovesOrPositionsThanTheStoredFormCounts) {
  ScratchFolder folder;
  std::string line = "40 0";
  for (int code = 0; code < 256; ++code) line += " " + std::to_string(code) + ":0:0";
  folder.Put("moves.txt", Text(line + "\n"));
  EXPECT_TRUE(
      Contains(RunTool(RunPack, {folder / "moves.txt", "-o", folder / "b"}).err, "at most 255 moves"));

  std::string many = "buckets 1\n";
  for (uint32_t low = 64; low < 64 + 65536; ++low) {
    std::string key;
    AppendKeyText(&key, PositionKey{low, 0});
    many += key + " 1:0:0\n";
  }
  folder.Put("many.txt", Text(many));
  const Outcome outcome = RunTool(RunPack, {folder / "many.txt", "-o", folder / "b"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(Contains(outcome.err, "more than 65535 positions")) << outcome.err;
}

TEST(FixpackTextTest, BucketOptionsAndUsage) {
  ScratchFolder folder;
  folder.Put("book.txt", Text("buckets 7\n40 0 1:0:0\n"));
  const Outcome conflict = RunTool(RunPack, {folder / "book.txt", "-o", folder / "b", "--buckets", "5"});
  EXPECT_EQ(conflict.status, 1);
  EXPECT_TRUE(Contains(conflict.err, "the text gives 7 buckets, --buckets 5")) << conflict.err;
  EXPECT_EQ(RunTool(RunPack, {folder / "book.txt", "-o", folder / "b", "--buckets", "7"}).status, 0);

  folder.Put("plain.txt", Text("40 0 1:0:0\n"));
  ASSERT_EQ(RunTool(RunPack, {folder / "plain.txt", "-o", folder / "b"}).status, 0);
  EXPECT_TRUE(Contains(RunTool(RunDump, {folder / "b"}).out, "\nbuckets 1021\n"));

  EXPECT_EQ(RunTool(RunPack, {folder / "plain.txt"}).status, 2);
  EXPECT_EQ(RunTool(RunPack, {folder / "plain.txt", "-o", folder / "b", "--buckets", "0"}).status, 2);
  EXPECT_EQ(RunTool(RunPack, {folder / "plain.txt", "-o", folder / "b", "--buckets", "x"}).status, 2);
  EXPECT_EQ(RunTool(RunDump, {}).status, 2);
  const Outcome notBook = RunTool(RunDump, {folder / "plain.txt"});
  EXPECT_EQ(notBook.status, 1);
  EXPECT_TRUE(Contains(notBook.err, "not a book file")) << notBook.err;
}

}  // namespace
