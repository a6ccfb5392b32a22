// The diff between two books, above all: applied by the updater to OLD, it
// gives NEW, byte for byte as `fixpack pack` makes NEW.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"
#include "package/update_package.h"
#include "publish/book_diff.h"
#include "publish/package_writer.h"

namespace {

using namespace fixpack_test;

std::string Single(uint32_t buckets, const std::vector<Position>& positions) {
  return "buckets " + std::to_string(buckets) + "\n" + BodyText(positions);
}

// Divided texts put each position in division (low % 64); every division
// has its own bucket count.
std::string Divided(const std::vector<Position>& positions) {
  std::string text;
  for (uint32_t k = 0; k < 64; ++k) {
    std::vector<Position> here;
    for (const Position& position : positions) {
      if (position.key.low % 64 == k) here.push_back(position);
    }
    text += "division " + std::to_string(k) + " buckets " + std::to_string(1 + k % 5) + "\n" + BodyText(here);
  }
  return text;
}

void Pack(const ScratchFolder& folder, const std::string& name, const std::string& text) {
  folder.Put(name + ".txt", Text(text));
  const Outcome packed = RunTool(RunPack, {folder / (name + ".txt"), "-o", folder / name});
  ASSERT_EQ(packed.status, 0) << packed.err;
}

// Diffs OLD to NEW, wraps the payload in a package entry and applies it
// to an install folder holding OLD with the updater's applier.
void ExpectDiffReachesNew(const ScratchFolder& folder, int32_t kind) {
  const Outcome diff = RunTool(RunDiff, {folder / "old", folder / "new", "-o", folder / "diff"});
  ASSERT_EQ(diff.status, 0) << diff.err;
  std::vector<uint8_t> script;
  AppendEntryHead(&script, kind, "book.bak", "book.dat");
  const Bytes payload = folder.Get("diff");
  script.insert(script.end(), payload.begin(), payload.end());
  folder.Put("install/book.dat", folder.Get("old"));
  ApplyReport report;
  ASSERT_EQ(ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), (folder / "install").c_str(),
                         &report),
            ApplyOk)
      << report.cause;
  EXPECT_EQ(folder.Get("install/book.dat"), folder.Get("new"));
  EXPECT_EQ(folder.Get("install/book.bak"), folder.Get("old"));
}

TEST(FixpackDiffTest, DiffThenApplyGivesNewForRandomSingleBooks) {
  ScratchFolder folder;
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BookMaker maker(seed);
    const uint32_t buckets = 1 + maker.Below(7);
    const std::vector<Position> old = maker.Book(maker.Below(40));
    Pack(folder, "old", Single(buckets, old));
    Pack(folder, "new", Single(buckets, maker.Change(old)));
    ExpectDiffReachesNew(folder, KindBook);
    folder.Restore({});
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

TEST(FixpackDiffTest, DiffThenApplyGivesNewForRandomDividedBooks) {
  ScratchFolder folder;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BookMaker maker(1000 + seed);
    const std::vector<Position> old = maker.Book(maker.Below(120));
    Pack(folder, "old", Divided(old));
    Pack(folder, "new", Divided(maker.Change(old)));
    ExpectDiffReachesNew(folder, KindDividedBook);
    folder.Restore({});
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

// A position whose 255 moves are all replaced needs 510 records: two
// groups, deletes first, or the node would pass 255 moves on the way.
TEST(FixpackDiffTest, FullPositionsAreReplacedWithinTheirLimit) {
  ScratchFolder folder;
  Position before{{0x40, 0}, {}}, after{{0x40, 0}, {}};
  for (uint16_t code = 0; code < 255; ++code) {
    before.moves.push_back({code, 0, 0});
    after.moves.push_back({static_cast<uint16_t>(code + 1000), 0, 0});
  }
  Pack(folder, "old", Single(1, {before}));
  Pack(folder, "new", Single(1, {after}));
  ExpectDiffReachesNew(folder, KindBook);
  const Outcome text = RunTool(RunDiff, {folder / "old", folder / "new"});
  EXPECT_TRUE(Contains(text.out, "2 groups, 255 puts, 255 deletes")) << text.out;
}

TEST(FixpackDiffTest, EqualBooksGiveAListOfItsTerminatorOnly) {
  ScratchFolder folder;
  BookMaker maker(7);
  const std::string text = Single(3, maker.Book(30));
  Pack(folder, "old", text);
  Pack(folder, "new", text);
  ASSERT_EQ(RunTool(RunDiff, {folder / "old", folder / "new", "-o", folder / "diff"}).status, 0);
  EXPECT_EQ(folder.Get("diff"), Bytes(4, 0));
}

// An old body holding a code twice (which only a body can bring) loses the
// surplus entries, whichever of them the new book keeps.
TEST(FixpackDiffTest, CodesHeldTwiceInTheOldBookAreResolved) {
  ScratchFolder folder;
  const Position twice{{0x50, 1}, {{7, 0, 1}, {3, 0, 0}, {7, 0, 2}, {7, 0, 3}}};
  folder.Put("old", fixpack_test::SingleFile(fixpack_test::RawBody({{twice}})));
  for (uint32_t data : {1u, 3u, 9u}) {
    Pack(folder, "new", Single(1, {Position{{0x50, 1}, {{3, 0, 0}, {7, 0, data}}}}));
    ExpectDiffReachesNew(folder, KindBook);
    std::filesystem::remove_all(folder / "install");
  }
}

TEST(FixpackDiffTest, RefusesWhatNoDiffCanCarry) {
  const Position plain{{0x40, 0}, {{1, 0, 0}}};
  const Position lowKey{{0x3F, 0}, {{1, 0, 0}}};
  const Position endKey{{0xFFFFFFFF, 0}, {{1, 0, 0}}};
  const Position marker{{0x40, 0}, {{1, 0xFFFF, 0xFFFFFFFF}}};
  const Position twoCodes{{0x40, 0}, {{1, 0, 0}, {1, 0, 5}}};
  struct Case {
    const char* name;
    Bytes old, neu;
    const char* cause;
  } cases[] = {
      {"low word below 64", fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain, lowKey}})), "its low word is below 64"},
      {"low word all ones", fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{endKey, plain}})), "0xFFFFFFFF"},
      {"a move that reads as a delete marker", fixpack_test::SingleFile(fixpack_test::RawBody({{}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{marker}})), "reads as a delete marker"},
      {"bucket counts differ", fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain}, {}})), "2 buckets where"},
      {"a code twice in NEW", fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{twoCodes}})), "holds code 0001 twice"},
      {"a position twice in NEW", fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain, plain}})), "stands twice"},
      {"OLD chain ascending",
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain, Position{{0x41, 0}, {{1, 0, 0}}}}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain}})), "out of descending order"},
      {"OLD node outside its bucket", fixpack_test::SingleFile(fixpack_test::RawBody({{}, {plain}})),
       fixpack_test::SingleFile(fixpack_test::RawBody({{plain}, {}})), "not in its bucket 0"},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder.Put("old", c.old);
    folder.Put("new", c.neu);
    const Outcome outcome = RunTool(RunDiff, {folder / "old", folder / "new", "-o", folder / "diff"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.err, c.cause)) << outcome.err;
    EXPECT_FALSE(folder.Has("diff"));
  }
}

// A position with a key no diff can name is no obstacle while it stays as
// it is.
TEST(FixpackDiffTest, UnnamablePositionsThatStayAreNoObstacle) {
  ScratchFolder folder;
  const Position lowKey{{0x3F, 0}, {{1, 0, 0}}};
  Pack(folder, "old", Single(1, {lowKey}));
  Pack(folder, "new", Single(1, {lowKey, Position{{0x40, 0}, {{2, 0, 0}}}}));
  ExpectDiffReachesNew(folder, KindBook);
}

TEST(FixpackDiffTest, TextNamesEveryRecordAndTheDivision) {
  ScratchFolder folder;
  Pack(folder, "old", "division 3 buckets 1\n00000040 00000000 0001:0000:00000000 0002:0000:00000000\n");
  Pack(folder, "new", "division 3 buckets 1\n00000040 00000000 0002:0000:00000009 0005:0001:00000000\n");
  const Outcome outcome = RunTool(RunDiff, {folder / "old", folder / "new"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(Contains(outcome.out, "1 group, 2 puts, 1 delete")) << outcome.out;
  EXPECT_TRUE(
      Contains(outcome.out, "division 3\n00000040 00000000 -0001 +0002:0000:00000009 +0005:0001:00000000\n"))
      << outcome.out;
}

TEST(FixpackDiffTest, RefusesBooksOfDifferentLayoutsAndUsage) {
  ScratchFolder folder;
  Pack(folder, "old", "buckets 1\n");
  Pack(folder, "new", "division 0\n");
  const Outcome outcome = RunTool(RunDiff, {folder / "old", folder / "new"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(Contains(outcome.err, "is a divided book, but")) << outcome.err;
  EXPECT_EQ(RunTool(RunDiff, {folder / "old"}).status, 2);
  EXPECT_EQ(RunTool(RunDiff, {folder / "old", folder / "new", "--bogus"}).status, 2);
  const Outcome missing = RunTool(RunDiff, {folder / "old", folder / "absent"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "absent: cannot be opened")) << missing.err;
}

}  // namespace
