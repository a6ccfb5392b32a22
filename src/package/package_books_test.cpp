// Book and divided-book entries, applied to real book files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

constexpr uint32_t Terminator = 0xFFFFFFFF;

Bytes SmallRaw() {
  return package_test::RawBook({{{0x40, 0}, {{5, 1, 7}}}, {{0x41, 2}, {{3, 0, 0}, {1, 0, 0}}}});
}

// A divided book whose division k holds one position (0x40 + k, k) with
// move 5.
Bytes SmallDivided() {
  std::vector<Bytes> raws;
  for (uint32_t k = 0; k < 64; ++k) raws.push_back(package_test::RawBook({{{0x40 + k, k}, {{5, 0, 0}}}}));
  return package_test::DividedFile(raws);
}

uint32_t U32At(const Bytes& file, size_t at) {
  return static_cast<uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                               uint32_t(file[at + 3]) << 24);
}

// The magic of the old file is not compared; the new file gets the book magic.
TEST(BookEntryTest, MergesIntoTheBookAndKeepsTheOld) {
  ScratchFolder folder;
  const Bytes old = package_test::BookFile(SmallRaw(), Text("ANYTHING"));
  folder.Put("joseki.dat", old);
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 9).Group(0x41, 2, 3, true).U32(Terminator);
  script.File("a.bak", "a.txt", Text("after the book"));
  ApplyReport report;
  ASSERT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyOk) << report.cause;
  EXPECT_EQ(report.entriesApplied, 2);

  EXPECT_EQ(folder.Get("joseki.bak"), old);
  const Bytes book = folder.Get("joseki.dat");
  ASSERT_GE(book.size(), 8u);
  EXPECT_EQ(Bytes(book.begin(), book.begin() + 8), (Bytes{0x4A, 0x6F, 0x53, 0x65, 0x4B, 0x69, 0x35, 0x00}));
  EXPECT_EQ(book.size(), 16 + U32At(book, 8));  // nothing behind the body
  JosekiTablePtr table = LoadBlock(book, 8);
  ASSERT_TRUE(table);
  EXPECT_EQ(Codes(table.get(), 0x40, 0), (std::vector<uint16_t>{5, 9}));
  EXPECT_EQ(Codes(table.get(), 0x41, 2), (std::vector<uint16_t>{1}));
  EXPECT_EQ(folder.Get("a.txt"), Text("after the book"));
}

TEST(BookEntryTest, MergesIntoEveryDivision) {
  ScratchFolder folder;
  const Bytes old = SmallDivided();
  folder.Put("book/div.dat", old);
  Script script;
  script.Head(KindDividedBook, "book\\div.bak", "book\\div.dat").U32(12345);
  for (uint32_t k = 0; k < 64; ++k) {
    if (k == 3) script.Group(0x43, 3, 2);
    if (k == 63) script.Group(0x40 + 63, 63, 5, true).Group(0x1000, 0, 8);
    script.U32(Terminator);
  }
  script.File("a.bak", "a.txt", Text("after the book"));
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);

  EXPECT_EQ(folder.Get("book/div.bak"), old);
  const Bytes book = folder.Get("book/div.dat");
  ASSERT_GE(book.size(), 264u);
  EXPECT_EQ(Bytes(book.begin(), book.begin() + 8), (Bytes{0x4A, 0x53, 0x4B, 0x44, 0x49, 0x56, 0x31, 0x00}));
  for (uint32_t k = 0; k < 64; ++k) {
    JosekiTablePtr table = LoadBlock(book, U32At(book, 8 + 4 * k));
    ASSERT_TRUE(table) << k;
    std::vector<uint16_t> expected = {5};
    if (k == 3) expected = {2, 5};
    if (k == 63) expected = {};
    EXPECT_EQ(Codes(table.get(), 0x40 + k, k), expected) << k;
    if (k == 63) {
      EXPECT_EQ(Codes(table.get(), 0x1000, 0), (std::vector<uint16_t>{8}));
    }
  }
  EXPECT_EQ(folder.Get("a.txt"), Text("after the book"));
}

// The second application merges into what the first one kept under oldName.
TEST(BookEntryTest, SecondApplicationLeavesTheSameFiles) {
  ScratchFolder folder;
  folder.Put("joseki.dat", package_test::BookFile(SmallRaw()));
  folder.Put("div.dat", SmallDivided());
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 9).U32(Terminator);
  script.Head(KindDividedBook, "div.bak", "div.dat").U32(0);
  for (uint32_t k = 0; k < 64; ++k) script.Group(0x2000 + k, 0, static_cast<uint16_t>(k)).U32(Terminator);
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  const Snapshot once = folder.Take();
  ASSERT_EQ(once.size(), 4u);
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), once);
}

// The old file under oldName is the one merged when both names hold a file.
TEST(BookEntryTest, ReadsTheFileKeptUnderTheOldName) {
  ScratchFolder folder;
  folder.Put("joseki.bak", package_test::BookFile(package_test::RawBook({{{0x50, 0}, {{4, 0, 0}}}})));
  folder.Put("joseki.dat", Text("not a book at all"));
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x50, 0, 6).U32(Terminator);
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(Codes(LoadBlock(folder.Get("joseki.dat"), 8).get(), 0x50, 0), (std::vector<uint16_t>{4, 6}));
}

// A book that cannot be merged fails its entry; the folder stays as the entry
// found it, and the entries behind it are not applied.
TEST(BookEntryTest, FailedMergeChangesNothing) {
  Bytes damagedBody = package_test::BookFile(SmallRaw());
  damagedBody[damagedBody.size() - 3] ^= 0x40;
  Bytes damagedDivided = SmallDivided();
  damagedDivided[8 + 4 * 10 + 3] = 0x7F;  // division 10 points far outside the file
  struct Case {
    const char* what;
    uint32_t kind;
    Bytes file;
  } cases[] = {
      {"damaged body", KindBook, damagedBody},
      {"shorter than a magic", KindBook, Text("JoSe")},
      {"empty", KindBook, {}},
      {"body cut short", KindBook, Bytes(damagedBody.begin(), damagedBody.end() - 10)},
      {"divided offset outside", KindDividedBook, damagedDivided},
      {"divided cut short", KindDividedBook, Bytes(damagedDivided.begin(), damagedDivided.begin() + 200)},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    folder.Put("a.txt", Text("a0"));
    folder.Put("book.dat", c.file);
    Script script;
    script.File("a.bak", "a.txt", Text("a1"));
    script.Head(c.kind, "book.bak", "book.dat");
    if (c.kind == KindDividedBook) script.U32(0);
    script.U32(Terminator);
    script.File("c.bak", "c.txt", Text("c1"));
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyWriteFailed) << c.what;
    EXPECT_EQ(report.entriesApplied, 1) << c.what;
    EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("a0")}, {"a.txt", Text("a1")}, {"book.dat", c.file}}))
        << c.what;
  }
}

}  // namespace
