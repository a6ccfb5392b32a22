// Building update data files: what build writes does exactly what its
// manifest says when the updater applies it, the same inputs give the same
// bytes, and a manifest whose new books cannot be reached writes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixpack/file_bytes.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"
#include "package/update_package.h"
#include "publish/book_image.h"
#include "publish/package_check.h"
#include "publish/package_writer.h"

namespace {

using namespace fixpack_test;

void Pack(const ScratchFolder& folder, const std::string& name, const std::string& text) {
  folder.Put(name + ".txt", Text(text));
  const Outcome packed = RunTool(RunPack, {folder / (name + ".txt"), "-o", folder / name});
  ASSERT_EQ(packed.status, 0) << packed.err;
}

std::string DividedText(BookMaker& maker, uint32_t positions) {
  std::string text;
  for (uint32_t k = 0; k < 64; k += 7)
    text += "division " + std::to_string(k) + " buckets 3\n" + BodyText(maker.Book(positions));
  return text;
}

// Old and new single and divided books, a new file, and the manifest.
void MakeRelease(const ScratchFolder& folder, uint32_t seed) {
  BookMaker maker(seed);
  const std::vector<Position> single = maker.Book(40);
  Pack(folder, "src/old.dat", "buckets 5\n" + BodyText(single));
  Pack(folder, "src/new.dat", "buckets 5\n" + BodyText(maker.Change(single)));
  Pack(folder, "src/oldd.dat", DividedText(maker, 6));
  Pack(folder, "src/newd.dat", DividedText(maker, 6));
  folder.Put("src/readme.txt", Text("release 1.1\r\n"));
  folder.Put("manifest.txt",
             Text("# release 1.1\n"
                  "book   joseki.bak  joseki.dat        src/old.dat  src/new.dat\n"
                  "divided jskdiv.bak \"book\\big.dat\" src/oldd.dat src/newd.dat  # a subfolder\n"
                  "file   readme.old  readme.txt        src/readme.txt\n"));
}

TEST(FixpackBuildTest, TheBuiltPackageTurnsTheInstallIntoTheRelease) {
  ScratchFolder folder;
  MakeRelease(folder, 5);
  const Outcome built = RunTool(RunBuild, {folder / "manifest.txt", "-o", folder / "upda.dat"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_TRUE(Contains(built.out, "3 entries")) << built.out;
  EXPECT_TRUE(Contains(built.out, "3 file    readme.old -> readme.txt: 13 bytes")) << built.out;
  EXPECT_FALSE(folder.Has("upda.dat.part"));

  folder.Put("install/joseki.dat", folder.Get("src/old.dat"));
  folder.Put("install/book/big.dat", folder.Get("src/oldd.dat"));
  folder.Put("install/readme.txt", Text("release 1.0\r\n"));
  const Outcome applied = RunTool(RunApply, {folder / "upda.dat", folder / "install"});
  ASSERT_EQ(applied.status, 0) << applied.out;
  EXPECT_EQ(folder.Get("install/joseki.dat"), folder.Get("src/new.dat"));
  EXPECT_EQ(folder.Get("install/joseki.bak"), folder.Get("src/old.dat"));
  EXPECT_EQ(folder.Get("install/book/big.dat"), folder.Get("src/newd.dat"));
  EXPECT_EQ(folder.Get("install/jskdiv.bak"), folder.Get("src/oldd.dat"));
  EXPECT_EQ(folder.Get("install/readme.txt"), Text("release 1.1\r\n"));
  EXPECT_EQ(folder.Get("install/readme.old"), Text("release 1.0\r\n"));

  // The same inputs give the same bytes.
  ASSERT_EQ(RunTool(RunBuild, {folder / "manifest.txt", "-o", folder / "again.dat"}).status, 0);
  EXPECT_EQ(folder.Get("again.dat"), folder.Get("upda.dat"));
}

// Random releases, some of whose new books no diff reaches: build writes
// exactly when every one is reached.
TEST(FixpackBuildTest, RefusesEveryManifestWhoseNewBookCannotBeReached) {
  ScratchFolder folder;
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    BookMaker maker(seed);
    std::vector<Position> old = maker.Book(20);
    std::vector<Position> target = maker.Change(old);
    const uint32_t fault = maker.Below(4);
    uint32_t newBuckets = 3;
    if (fault == 1) newBuckets = 4;                                      // the merge keeps the bucket count
    if (fault == 2) target.push_back(Position{{0x10, 0}, {{1, 0, 0}}});  // a key no diff names
    if (fault == 3)
      target.push_back(Position{{0x99999, 0}, {{1, 0xFFFF, 0xFFFFFFFF}}});  // a move no diff puts
    Pack(folder, "old.dat", "buckets 3\n" + BodyText(old));
    Pack(folder, "new.dat", "buckets " + std::to_string(newBuckets) + "\n" + BodyText(target));
    folder.Put("manifest.txt", Text("book j.bak j.dat old.dat new.dat\n"));
    const Outcome built = RunTool(RunBuild, {folder / "manifest.txt", "-o", folder / "upda.dat"});
    if (fault == 0) {
      ASSERT_EQ(built.status, 0) << built.err;
      folder.Put("install/j.dat", folder.Get("old.dat"));
      ASSERT_EQ(RunTool(RunApply, {folder / "upda.dat", folder / "install"}).status, 0);
      EXPECT_EQ(folder.Get("install/j.dat"), folder.Get("new.dat"));
    } else {
      EXPECT_EQ(built.status, 1);
      EXPECT_TRUE(Contains(built.err, "manifest.txt:1: ")) << built.err;
      EXPECT_FALSE(folder.Has("upda.dat"));
    }
    folder.Restore({});
  }
}

// The check itself: a script that does not do what the plan says is caught,
// whether it reaches the wrong book or the wrong content.
TEST(FixpackBuildTest, TheCheckCatchesAPackageThatMissesItsTarget) {
  ScratchFolder folder;
  Pack(folder, "old.dat", "buckets 2\n40 0 1:0:0\n41 0 2:0:0\n");
  Pack(folder, "new.dat", "buckets 2\n40 0 1:0:5\n41 0 2:0:0\n");
  BookImage oldBook, newBook;
  std::string error;
  ASSERT_TRUE(ReadBookImage(folder / "old.dat", &oldBook, &error));
  ASSERT_TRUE(ReadBookImage(folder / "new.dat", &newBook, &error));
  const Bytes content = Text("new");
  std::vector<PlannedEntry> plan(2);
  plan[0].kind = KindBook;
  plan[0].oldName = "j.bak";
  plan[0].newName = "j.dat";
  plan[0].oldBook = &oldBook;
  plan[0].newBook = &newBook;
  plan[0].label = "line 1";
  plan[1].kind = KindFile;
  plan[1].oldName = "a.bak";
  plan[1].newName = "a.txt";
  plan[1].content = &content;
  plan[1].label = "line 2";

  auto script = [&](uint32_t data, const std::string& file) {
    std::vector<uint8_t> bytes;
    AppendEntryHead(&bytes, KindBook, "j.bak", "j.dat");
    for (uint32_t word : {0x40u, 0u}) AppendU32(&bytes, word);
    bytes.push_back(1);
    for (uint32_t word : {1u, data, 0u}) AppendU32(&bytes, word);
    bytes.resize(bytes.size() - 4);  // code 1, aux 0 as one word, then data
    AppendU32(&bytes, 0);
    AppendFileEntry(&bytes, "a.bak", "a.txt", Text(file));
    return bytes;
  };
  EXPECT_TRUE(CheckPackage(script(5, "new"), plan, &error)) << error;
  EXPECT_FALSE(CheckPackage(script(6, "new"), plan, &error));
  EXPECT_TRUE(Contains(error, "line 1: j.dat: the body: the updated book differs")) << error;
  EXPECT_TRUE(Contains(error, "+0001:0000:00000005")) << error;
  EXPECT_FALSE(CheckPackage(script(5, "old"), plan, &error));
  EXPECT_TRUE(Contains(error, "line 2: a.txt does not hold the new content")) << error;
  std::vector<uint8_t> cut = script(5, "new");
  cut.resize(cut.size() - 20);
  EXPECT_FALSE(CheckPackage(cut, plan, &error));
  EXPECT_TRUE(Contains(error, "line 2: the updater's applier fails at entry 2")) << error;
}

TEST(FixpackBuildTest, RefusesManifestsAtTheirLine) {
  struct Case {
    const char* manifest;
    const char* error;
  } cases[] = {
      {"# nothing\n", "manifest.txt:1: the manifest holds no entries"},
      {"copy a b c\n", "manifest.txt:1: 'copy' is none of book, divided, file"},
      {"\xEF\xBB\xBF"
       "file a b src\n",
       "manifest.txt:1: the manifest is saved in UTF-8"},
      {"\nfile a b\n", "manifest.txt:2: file takes OLDNAME NEWNAME SOURCE, 2 words given"},
      {"book a b c\n", "manifest.txt:1: book takes OLDNAME NEWNAME OLDBOOK NEWBOOK"},
      {"file ..\\a b src\n", "the name '..\\a' cannot stand in a package"},
      {"file c:a b src\n", "cannot stand in a package: the name holds a drive or a colon"},
      {"file A.txt a.TXT src\n", "OLDNAME and NEWNAME denote the same file"},
      {"file \"a.txt. \" a.txt src\n", "OLDNAME and NEWNAME denote the same file"},
      {"file a.bak \"book /a.txt\" src\nfile b.bak book\\a.txt src\n",
       "manifest.txt:2: the name 'book\\a.txt' is used by the entry on line 1"},
      {"file a.bak CON.txt src\n", "cannot stand in a package: the name is one Windows opens as a device"},
      {"file \"lpt1 .dat\" a.txt src\n", "the name is one Windows opens as a device"},
      {"file a.bak \"~FIX0123456789ABCDEF.new\" src\n", "the name ends like a temporary file of an update"},
      {"file a b src\nfile c B src\n", "manifest.txt:2: the name 'B' is used by the entry on line 1"},
      // ｒｅａｄｍｅ.txt and ＲＥＡＤＭＥ.txt; a・.txt and a with an undefined pair
      {"file \x82\x92\x82\x85.txt \x82\x71\x82\x64.txt src\n", "OLDNAME and NEWNAME denote the same file"},
      {"file a.bak \x82\x92\x82\x85.txt src\nfile \x82\x71\x82\x64.txt b.ini src\n",
       "manifest.txt:2: the name '\x82\x71\x82\x64.txt' is used by the entry on line 1"},
      // An undefined pair is no code page 932 text: refused before names are
      // compared (where it would read as a・.txt).
      {"file a.bak a\x81\x45.txt src\nfile a\x83\x7F.txt b.ini src\n",
       "manifest.txt:2: the name 'a\x83\x7F.txt' would reach users' folders garbled"},
      {"file \"a b src\n", "no closing quote"},
      {"file a b absent\n", "manifest.txt:1: "},
      {"book a b src absent\n", "absent: cannot be opened"},
      {"divided a b src src\n", "src is a single book, but the entry says divided"},
  };
  ScratchFolder folder;
  Pack(folder, "src", "buckets 1\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manifest);
    folder.Put("manifest.txt", Text(c.manifest));
    const Outcome outcome = RunTool(RunBuild, {folder / "manifest.txt", "-o", folder / "upda.dat"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.err, c.error)) << outcome.err;
    EXPECT_FALSE(folder.Has("upda.dat"));
  }
  EXPECT_EQ(RunTool(RunBuild, {folder / "manifest.txt"}).status, 2);
  EXPECT_EQ(RunTool(RunBuild, {"-o", folder / "x"}).status, 2);
}

}  // namespace
