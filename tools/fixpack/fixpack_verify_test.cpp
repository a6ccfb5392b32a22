// verify: every invariant of the stored form, each violation named with its
// place; a sound file passes. inspect: the figures of what a file holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"
#include "package/update_package.h"
#include "publish/file_check.h"
#include "publish/findings.h"
#include "publish/package_writer.h"

namespace {

using namespace fixpack_test;

const Position P44{{0x44, 0}, {{1, 0, 0}, {2, 0, 0}}};
const Position P42{{0x42, 0}, {{3, 0, 0}}};
const Position P41{{0x41, 0}, {{1, 0, 0}, {7, 0, 9}}};

// Two buckets: 0 holds 0x44 and 0x42, 1 holds 0x41. Records: buckets at 12
// and 18, nodes at 24, 37 and 50.
Bytes SoundRaw() { return RawBody({{P44, P42}, {P41}}); }

Bytes Patched(Bytes bytes, size_t at, uint32_t value) {
  StoreU32(bytes.data() + at, value);
  return bytes;
}

struct Verdict {
  int status;
  std::string out;
};

Verdict Verify(const ScratchFolder& folder, const Bytes& file, std::vector<std::string> options = {}) {
  folder.Put("file", file);
  std::vector<std::string> arguments = {folder / "file"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  const Outcome outcome = RunTool(RunVerify, arguments);
  return Verdict{outcome.status, outcome.out + outcome.err};
}

Bytes DataFile(const std::vector<uint8_t>& script) {
  std::vector<uint8_t> file;
  EXPECT_TRUE(MakeUpdateDataFile(script, &file));
  return file;
}

TEST(FixpackVerifyTest, NamesEveryFaultOfARawBodyWithItsPlace) {
  const Position empty{{0x46, 0}, {}};
  const Position twice{{0x42, 0}, {{1, 0, 0}, {1, 0, 1}}};
  struct Case {
    const char* name;
    Bytes raw;
    const char* finding;
  } cases[] = {
      {"firstNode", Patched(SoundRaw(), 18, 5),
       "the body, bucket 1: error: firstNode is 5, but the buckets before it hold 2"},
      {"firstMove", Patched(SoundRaw(), 37 + 8, 9),
       "node 1 (position 00000042 00000000): error: firstMove is 9, but the nodes before it hold 2"},
      {"ascending chain", RawBody({{P42, P44}, {P41}}),
       "bucket 0, node 1 (position 00000044 00000000): error: the chain does not descend: it follows "
       "00000042 00000000"},
      {"a key twice", RawBody({{P42, P42}, {P41}}), "error: the position stands twice in its chain"},
      {"wrong bucket", RawBody({{P44}, {P42, P41}}),
       "bucket 1, node 1 (position 00000042 00000000): error: its key belongs in bucket 0"},
      {"no moves", RawBody({{empty, P42}, {P41}}),
       "node 0 (position 00000046 00000000): error: the node has no moves"},
      {"a code twice", RawBody({{twice}, {P41}}), "error: code 0001 stands more than once"},
      {"no buckets", RawBody({}), "the body: error: bucketCount is 0"},
      {"nodeCount", Patched(SoundRaw(), 4, 4), "error: the buckets hold 3 nodes, but nodeCount is 4"},
      {"moveCount", Patched(SoundRaw(), 8, 4), "but bucketCount 2, nodeCount 3 and moveCount 4 make"},
      {"short body", Bytes(12, 0), "the body: error: bucketCount is 0"},
      {"shorter body", Bytes(8, 0), "error: the raw body has 8 bytes, fewer than its 12-byte header"},
  };
  ScratchFolder folder;
  EXPECT_EQ(Verify(folder, SingleFile(SoundRaw())).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = Verify(folder, SingleFile(c.raw));
    EXPECT_EQ(verdict.status, 1);
    EXPECT_TRUE(Contains(verdict.out, c.finding)) << verdict.out;
    EXPECT_TRUE(Contains(verdict.out, "unsound single book")) << verdict.out;
  }
}

TEST(FixpackVerifyTest, WarningsLeaveTheBookSound) {
  ScratchFolder folder;
  const Position unsorted{{0x44, 0}, {{2, 0, 0}, {1, 0, 0}}};
  const Position low{{0x02, 0}, {{1, 0xFFFF, 0xFFFFFFFF}}};
  const Verdict verdict = Verify(folder, SingleFile(RawBody({{unsorted, low}})));
  EXPECT_EQ(verdict.status, 0) << verdict.out;
  EXPECT_TRUE(Contains(verdict.out, "warning: moves not sorted by code")) << verdict.out;
  EXPECT_TRUE(Contains(verdict.out, "no diff can name this position")) << verdict.out;
  EXPECT_TRUE(Contains(verdict.out, "move 0001 has aux 0xFFFF with data 0xFFFFFFFF")) << verdict.out;
  EXPECT_TRUE(Contains(verdict.out, "sound single book, 3 warnings")) << verdict.out;
}

TEST(FixpackVerifyTest, NamesEveryFaultOfAFileAroundItsBody) {
  const Bytes sound = SingleFile(SoundRaw());
  const uint32_t packed = LoadU32(sound.data() + 8);
  const uint32_t raw = LoadU32(sound.data() + 12);
  Bytes after = sound;
  after.push_back(0);
  Bytes slack = Patched(sound, 8, packed + 2);
  slack.insert(slack.end(), {0, 0});
  Bytes cut = Patched(sound, 8, packed - 3);
  cut.resize(cut.size() - 3);
  Bytes magic = sound;
  magic[6] = '6';
  struct Case {
    const char* name;
    Bytes file;
    const char* finding;
  } cases[] = {
      {"bytes after the body", after, ": error: 1 bytes stand after the body"},
      {"stream ends early", slack, "the body (block at offset 8): error: the zlib stream ends after"},
      {"stream cut short", cut, "error: the zlib stream does not end within its packedSize"},
      {"rawSize too large", Patched(sound, 12, raw + 1), "bytes, not its rawSize of"},
      {"rawSize too small", Patched(sound, 12, raw - 1), "unpacks to more than its rawSize"},
      {"packedSize past the end", Patched(sound, 8, packed + 1), "reaches past the end of the file"},
      {"magic", magic, "offset 0: error: the magic is not \"JoSeKi5\""},
      {"no body", Bytes(sound.begin(), sound.begin() + 10), "only 2 bytes stand where the 8 bytes"},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = Verify(folder, c.file, {"--as", "single"});
    EXPECT_EQ(verdict.status, 1);
    EXPECT_TRUE(Contains(verdict.out, c.finding)) << verdict.out;
  }
}

TEST(FixpackVerifyTest, NamesEveryFaultOfADividedLayout) {
  ScratchFolder folder;
  folder.Put("book.txt", Text("division 0 buckets 2\n40 0 1:0:0\n"));
  ASSERT_EQ(RunTool(RunPack, {folder / "book.txt", "-o", folder / "book"}).status, 0);
  const Bytes sound = folder.Get("book");
  auto offset = [&](int k) { return LoadU32(sound.data() + 8 + 4 * k); };
  Bytes padded = sound;
  padded.insert(padded.end(), {0, 0, 7, 0});
  Bytes swapped = Patched(Patched(sound, 8 + 4 * 1, offset(2)), 8 + 4 * 2, offset(1));
  struct Case {
    const char* name;
    Bytes file;
    int status;
    const char* finding;
  } cases[] = {
      {"inside the header", Patched(sound, 8 + 4 * 5, 100), 1,
       "division 5: error: its offset 100 lies inside the header"},
      {"past the end", Patched(sound, 8 + 4 * 63, 1u << 30), 1,
       "division 63: error: its offset 1073741824 lies past the end"},
      {"overlap", Patched(sound, 8 + 4 * 2, offset(1)), 1, "overlaps that of division 1"},
      {"padding", padded, 1, "error: nonzero bytes behind the last block"},
      {"order", swapped, 0, "warning: the blocks are not laid out as the updater writes them"},
  };
  EXPECT_EQ(Verify(folder, sound).status, 0);
  folder.Put("misplaced.txt", Text("division 5 buckets 2\n40 4000000 1:0:0\n"));
  ASSERT_EQ(RunTool(RunPack, {folder / "misplaced.txt", "-o", folder / "misplaced"}).status, 0);
  const Verdict misplaced = Verify(folder, folder.Get("misplaced"));
  EXPECT_EQ(misplaced.status, 0);
  EXPECT_TRUE(Contains(misplaced.out, "division 5, bucket 0, node 0 (position 00000040 04000000): warning: the "
                                      "top six bits of its high word name division 1"))
      << misplaced.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = Verify(folder, c.file);
    EXPECT_EQ(verdict.status, c.status) << verdict.out;
    EXPECT_TRUE(Contains(verdict.out, c.finding)) << verdict.out;
  }
}

TEST(FixpackVerifyTest, NamesEveryFaultOfAnUpdateDataFile) {
  auto script = [](const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> bytes;
    AppendFileEntry(&bytes, "a.bak", "a.txt", Text("A"));
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
  };
  std::vector<uint8_t> sameNames, hidden, refused, noNul, noEnd, pastEnd;
  AppendFileEntry(&sameNames, "B.txt", "b.TXT", Text(""));
  hidden = {2, 0, 0, 0, 4, 'a', 0, 'x', 0, 2, 'b', 0, 0, 0, 0, 0};
  AppendFileEntry(&refused, "..\\up", "b", Text(""));
  noNul = {2, 0, 0, 0, 2, 'a', 'b'};
  AppendEntryHead(&noEnd, KindBook, "j.bak", "j.dat");
  AppendU32(&noEnd, 0x40);
  AppendU32(&noEnd, 0);
  noEnd.push_back(0);
  AppendEntryHead(&pastEnd, KindFile, "c.bak", "c");
  AppendU32(&pastEnd, 5);
  pastEnd.push_back('c');
  Bytes trailing = DataFile(script({}));
  trailing.push_back(0);
  struct Case {
    const char* name;
    Bytes file;
    const char* finding;
  } cases[] = {
      {"kind 3", DataFile(script({{3, 0, 0, 0, 9, 9}})),
       "script offset 23, entry 2: error: kind 3 is none of 0 (book), 1 (divided book), 2 (file); the "
       "updater stops here and the 6 bytes"},
      {"stray bytes", DataFile(script({{2, 0}})), "entry 2: error: 2 stray bytes at the end of the script"},
      {"same names", DataFile(script({sameNames})), "error: both names denote the same file, 'b.TXT'"},
      {"hidden bytes", DataFile(script({hidden})),
       "error: the old name 'a' is followed by 2 hidden bytes behind its NUL"},
      {"refused name", DataFile(script({refused})), "error: the updater refuses the old name '..\\up'"},
      {"no NUL", DataFile(script({noNul})), "error: the old name does not end with a NUL"},
      {"no terminator", DataFile(script({noEnd})),
       "error: the script ends inside a BookDiff list, before its terminator"},
      {"payload", DataFile(script({pastEnd})),
       "error: the file's 5 bytes run past the end of the script (1 remain)"},
      {"trailing", trailing, "1 bytes stand after the packed script"},
      {"envelope", Bytes{1, 2, 3}, "the envelope: error: only 3 bytes stand where the 8 bytes"},
  };
  ScratchFolder folder;
  EXPECT_EQ(Verify(folder, DataFile(script({}))).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict verdict = Verify(folder, c.file);
    EXPECT_EQ(verdict.status, 1);
    EXPECT_TRUE(Contains(verdict.out, c.finding)) << verdict.out;
    EXPECT_TRUE(Contains(verdict.out, "unsound update data file")) << verdict.out;
  }
}

// Cut short at every length, no file is sound, and no check reads past
// what it has.
TEST(FixpackVerifyTest, EveryTruncationIsUnsound) {
  ScratchFolder folder;
  folder.Put("book.txt",
             Text("buckets 1\ndivision 0 buckets 2\n40 0 1:0:0\ndivision 63\n41 5 2:0:0 3:1:1\n"));
  ASSERT_EQ(RunTool(RunPack, {folder / "book.txt", "-o", folder / "divided"}).status, 0);
  std::vector<uint8_t> script;
  AppendEntryHead(&script, KindBook, "j.bak", "j.dat");
  for (uint32_t word : {0x40u, 0u}) AppendU32(&script, word);
  script.push_back(0);
  AppendU32(&script, 0);
  AppendFileEntry(&script, "a.bak", "a.txt", Text("content"));
  const struct {
    Bytes file;
    FileKind kind;
  } files[] = {{SingleFile(SoundRaw()), FileSingleBook},
               {folder.Get("divided"), FileDividedBook},
               {DataFile(script), FileDataFile}};
  for (const auto& file : files) {
    Findings whole;
    CheckFile(file.file, file.kind, &whole);
    ASSERT_EQ(whole.violations(), 0u) << FileKindName(file.kind);
    // The zero bytes that pad a divided book's last block may go; the
    // block itself may not.
    size_t needed = file.file.size();
    if (file.kind == FileDividedBook)
      needed = LoadU32(&file.file[8 + 4 * 63]) + 8 + LoadU32(&file.file[LoadU32(&file.file[8 + 4 * 63])]);
    for (size_t length = 0; length < needed; ++length) {
      Findings findings(10);
      CheckFile(Bytes(file.file.begin(), file.file.begin() + length), file.kind, &findings);
      ASSERT_GT(findings.violations(), 0u) << FileKindName(file.kind) << " cut to " << length;
    }
  }
}

TEST(FixpackVerifyTest, ShowsTheFirstHundredFindingsUnlessAll) {
  ScratchFolder folder;
  std::vector<Position> chain;
  for (uint32_t low = 300; low > 64; --low) chain.push_back(Position{{low, 0}, {{2, 0, 0}, {1, 0, 0}}});
  folder.Put("file", SingleFile(RawBody({chain})));
  const Outcome some = RunTool(RunVerify, {folder / "file"});
  EXPECT_EQ(some.status, 0);
  EXPECT_TRUE(Contains(some.out, "136 more findings not shown")) << some.out;
  const Outcome all = RunTool(RunVerify, {folder / "file", "--all"});
  EXPECT_FALSE(Contains(all.out, "not shown"));
  EXPECT_TRUE(Contains(all.out, "236 warnings")) << all.out;
  EXPECT_EQ(RunTool(RunVerify, {folder / "file", "--as", "book"}).status, 2);
  EXPECT_EQ(RunTool(RunVerify, {}).status, 2);
  EXPECT_EQ(RunTool(RunVerify, {folder / "absent"}).status, 1);
}

TEST(FixpackInspectTest, TellsTheFiguresOfBooksAndPackages) {
  ScratchFolder folder;
  const std::string old = "buckets 4\n40 0 1:0:0\n41 0 1:0:0 2:0:0\n42 0 1:0:0 2:0:0 3:0:0\n";
  ASSERT_NO_FATAL_FAILURE(PutPackedBook(folder, "old.txt", old, "old"));
  ASSERT_NO_FATAL_FAILURE(
      PutPackedBook(folder, "new.txt", "buckets 4\n40 0 1:0:0 9:0:0\n42 0 1:0:0 2:0:0 3:0:0\n", "new"));
  ASSERT_NO_FATAL_FAILURE(PutPackedBook(folder, "old.txt", old, "divided", {"--divided"}));

  const Outcome single = RunTool(RunInspect, {folder / "old"});
  ASSERT_EQ(single.status, 0) << single.err;
  EXPECT_TRUE(Contains(single.out, "single book")) << single.out;
  EXPECT_TRUE(Contains(single.out, "buckets 4 (1 empty, longest chain 1), positions 3, moves 6"))
      << single.out;
  EXPECT_TRUE(Contains(single.out,
                       "    1                   1\n    2                   1\n    3-4                 1\n"))
      << single.out;

  const Outcome divided = RunTool(RunInspect, {folder / "divided"});
  ASSERT_EQ(divided.status, 0) << divided.err;
  EXPECT_TRUE(Contains(divided.out, "       0        264 ")) << divided.out;
  EXPECT_TRUE(Contains(divided.out, "       63 ") || Contains(divided.out, "      63 ")) << divided.out;
  EXPECT_TRUE(Contains(divided.out, "buckets 256 (253 empty")) << divided.out;

  folder.Put("manifest.txt", Text("book j.bak j.dat old new\nfile r.old r.txt old.txt\n"));
  ASSERT_EQ(RunTool(RunBuild, {folder / "manifest.txt", "-o", folder / "upd"}).status, 0);
  const Outcome package = RunTool(RunInspect, {folder / "upd"});
  ASSERT_EQ(package.status, 0) << package.err;
  EXPECT_TRUE(Contains(package.out, "2 entries:\n    1 book    j.bak -> j.dat: payload ")) << package.out;
  EXPECT_TRUE(Contains(package.out, ", 2 groups, 1 put, 2 deletes\n")) << package.out;
  EXPECT_TRUE(Contains(package.out, "    2 file    r.old -> r.txt: payload ")) << package.out;

  Bytes damaged = folder.Get("upd");
  damaged.resize(damaged.size() - 1);
  folder.Put("damaged", damaged);
  const Outcome broken = RunTool(RunInspect, {folder / "damaged"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_TRUE(Contains(broken.err, "reaches past the end")) << broken.err;
}

}  // namespace
