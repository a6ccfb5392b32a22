#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "package/package_entries.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

TEST(ApplyPackageTest, TheTwentyFourByteFileEntry) {
  ScratchFolder folder;
  folder.Put("a.txt", Text("old content"));
  Bytes script = {0x02, 0x00, 0x00, 0x00, 0x06, 0x61, 0x2E, 0x62, 0x61, 0x6B, 0x00, 0x06,
                  0x61, 0x2E, 0x74, 0x78, 0x74, 0x00, 0x02, 0x00, 0x00, 0x00, 0x68, 0x69};
  ASSERT_EQ(script.size(), 24u);
  ApplyReport report;
  EXPECT_EQ(ApplyPackage(script.data(), 24, folder.Path().c_str(), &report), ApplyOk);
  EXPECT_EQ(report.entriesApplied, 1);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("old content")}, {"a.txt", Text("hi")}}));
}

// Scripts that end before their first entry apply nothing and succeed.
TEST(ApplyPackageTest, ScriptsThatEndCleanlyTouchNothing) {
  struct Case {
    const char* what;
    Script script;
  } cases[] = {
      {"empty", Script()},
      {"kind 3", Script().U32(3).Name("a.bak").Name("a.txt").U32(1).U8('x')},
      {"kind 0xFFFFFFFF", Script().U32(0xFFFFFFFF).Name("a.bak").Name("a.txt")},
      {"old name length 0", Script().U32(KindFile).U8(0).Name("a.txt").U32(1).U8('x')},
      {"new name length 0", Script().U32(KindFile).Name("a.bak").U8(0).U32(1).U8('x')},
      {"ends after the kind", Script().U32(KindFile)},
      {"ends inside the kind", Script().U8(2).U8(0)},
      {"ends after the old name", Script().U32(KindFile).Name("a.bak")},
  };
  for (Case& c : cases) {
    ScratchFolder folder;
    folder.Put("a.txt", Text("keep"));
    const Snapshot before = folder.Take();
    EXPECT_EQ(package_test::Apply(c.script, folder.Path()), ApplyOk) << c.what;
    EXPECT_EQ(folder.Take(), before) << c.what;
  }
}

TEST(ApplyPackageTest, NullScriptIsEmpty) {
  ScratchFolder folder;
  EXPECT_EQ(ApplyPackage(nullptr, 0, folder.Path().c_str()), ApplyOk);
  EXPECT_TRUE(folder.Take().empty());
}

TEST(ApplyPackageTest, FileEntryCreatesNewFilesAndEmptyOnes) {
  ScratchFolder folder;
  Script script;
  script.File("new.bak", "new.txt", Text("fresh")).File("empty.bak", "empty.txt", {});
  script.File("sub.bak", "sub\\inner.txt", Text("deep"));
  folder.Put("sub/keep", Text("k"));
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), (Snapshot{{"new.txt", Text("fresh")},
                                     {"empty.txt", {}},
                                     {"sub/inner.txt", Text("deep")},
                                     {"sub/keep", Text("k")}}));
}

// Each application moves the file under newName to oldName when oldName is
// free, and then writes newName afresh; a book merges from what oldName
// holds. A second application therefore leaves every newName as the first
// did, while an oldName that was free before the first one keeps what
// newName held before the second one: for a file the first application
// made, or that already held its new content, that is the new content.
TEST(ApplyPackageTest, SecondApplicationKeepsWhatEachNewNameHeld) {
  // The old book holds code 5 twice, as a body may; the delete removes the
  // first of them only, so merging again into the merged book would differ
  // from merging into the old one.
  const Bytes oldBook = package_test::BookFile(package_test::RawBook({{{0x40, 0}, {{5, 1, 0}, {5, 2, 0}}}}));
  ScratchFolder folder;
  folder.Put("joseki.dat", oldBook);
  folder.Put("a.txt", Text("version 1"));
  folder.Put("same.txt", Text("same"));
  folder.Put("b.bak", Text("kept by an earlier update"));
  folder.Put("b.txt", Text("b1"));
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 5, true).Group(0x40, 0, 9).U32(0xFFFFFFFF);
  script.File("a.bak", "a.txt", Text("version 2"));
  script.File("new.bak", "new.txt", Text("fresh"));
  script.File("same.bak", "same.txt", Text("same"));
  script.File("b.bak", "b.txt", Text("b2"));

  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  Snapshot once = folder.Take();
  // The book merged from the old one: one code 5 is left, with aux 2.
  const JosekiTablePtr merged = package_test::LoadBlock(once["joseki.dat"], 8);
  ASSERT_TRUE(merged);
  EXPECT_EQ(Codes(merged.get(), 0x40, 0), (std::vector<uint16_t>{5, 9}));
  EXPECT_EQ(merged->buckets[0]->moves[0].aux, 2);
  const Bytes mergedBook = once["joseki.dat"];
  EXPECT_EQ(once, (Snapshot{{"joseki.bak", oldBook},
                            {"joseki.dat", mergedBook},
                            {"a.bak", Text("version 1")},
                            {"a.txt", Text("version 2")},
                            {"new.txt", Text("fresh")},
                            {"same.bak", Text("same")},
                            {"same.txt", Text("same")},
                            {"b.bak", Text("kept by an earlier update")},
                            {"b.txt", Text("b2")}}));

  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), (Snapshot{{"joseki.bak", oldBook},
                                     {"joseki.dat", mergedBook},
                                     {"a.bak", Text("version 1")},
                                     {"a.txt", Text("version 2")},
                                     {"new.bak", Text("fresh")},
                                     {"new.txt", Text("fresh")},
                                     {"same.bak", Text("same")},
                                     {"same.txt", Text("same")},
                                     {"b.bak", Text("kept by an earlier update")},
                                     {"b.txt", Text("b2")}}));
}

// A file an earlier update kept under oldName stays; the present file is
// replaced.
TEST(ApplyPackageTest, OldNameTakenKeepsItAndReplacesTheFile) {
  ScratchFolder folder;
  folder.Put("a.bak", Text("kept by an earlier update"));
  folder.Put("a.txt", Text("present"));
  Script script;
  script.File("a.bak", "a.txt", Text("new"));
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("kept by an earlier update")}, {"a.txt", Text("new")}}));
}

// Leftovers of a run that was cut off: a half-made new file is overwritten,
// a set-aside file beside a present target is removed.
TEST(ApplyPackageTest, LeftoversOfAnInterruptedRunAreCleared) {
  ScratchFolder folder;
  folder.Put("a.bak", Text("old"));
  folder.Put("a.txt", Text("present"));
  folder.Put("a.txt.fix-new", Text("half made"));
  folder.Put("a.txt.fix-old", Text("set aside"));
  Script script;
  script.File("a.bak", "a.txt", Text("new"));
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("old")}, {"a.txt", Text("new")}}));
}

TEST(ApplyPackageTest, BookEntryWithoutAnyOldFileFailsAndStops) {
  for (uint32_t kind : {KindBook, KindDividedBook}) {
    ScratchFolder folder;
    Script script;
    script.File("a.bak", "a.txt", Text("first"));
    script.Head(kind, "joseki.bak", "joseki.dat").U32(0xFFFFFFFF);
    script.File("c.bak", "c.txt", Text("third"));
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyNoOldFile);
    EXPECT_EQ(report.entriesApplied, 1);
    EXPECT_EQ(report.failedKind, static_cast<int32_t>(kind));
    EXPECT_EQ(report.newName, "joseki.dat");
    EXPECT_EQ(folder.Take(), (Snapshot{{"a.txt", Text("first")}}));
  }
}

TEST(ApplyPackageTest, EntryThatCannotBeWrittenStopsThePackage) {
  ScratchFolder folder;
  folder.Put("a.txt", Text("a0"));
  folder.Put("c.txt", Text("c0"));
  Script script;
  script.File("a.bak", "a.txt", Text("a1"));
  script.File("b.bak", "missing\\b.txt", Text("b1"));  // no such subfolder
  script.File("c.bak", "c.txt", Text("c1"));
  ApplyReport report;
  EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyCannotCreate);
  EXPECT_EQ(report.entriesApplied, 1);
  EXPECT_EQ(report.oldName, "b.bak");
  EXPECT_NE(report.cause, nullptr);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("a0")}, {"a.txt", Text("a1")}, {"c.txt", Text("c0")}}));
}

TEST(ApplyPackageTest, FolderUnderTheNewNameCannotBeReplaced) {
  ScratchFolder folder;
  folder.Put("a.txt/inside", Text("x"));
  Script script;
  script.File("a.bak", "a.txt", Text("new"));
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyCannotCreate);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.txt/inside", Text("x")}}));
}

// A name ends at its first NUL; the script moves on by the full length.
TEST(ApplyPackageTest, NameEndsAtItsFirstNul) {
  ScratchFolder folder;
  Script script;
  script.U32(KindFile).Name("a.bak").U8(8).Raw(Text("a.txt")).U8(0).U8('z').U8(0).U32(1).U8('x');
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a.txt", Text("x")}}));
}

// The folder arrives as the lookup found it: with or without its separator,
// empty (names relative to the current folder), or ending in a double-byte
// character whose second byte is 0x5C.
TEST(ApplyPackageTest, FolderForms) {
  ScratchFolder folder;
  Script script;
  script.File("a.bak", "a.txt", Text("x"));

  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  EXPECT_EQ(folder.Get("a.txt"), Text("x"));

  const std::string so = folder / "d\x83\x5C";  // ends in ソ
  folder.Put("d\x83\x5C/a.txt", Text("old"));
  ASSERT_EQ(package_test::Apply(script, so), ApplyOk);
  EXPECT_EQ(package_test::ReadBytes(so + "/a.bak"), Text("old"));
  EXPECT_EQ(package_test::ReadBytes(so + "/a.txt"), Text("x"));

  const std::string here = folder / "here";
  folder.Put("here/a.txt", Text("cwd"));
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(here.c_str()), 0);
  const int32_t result = package_test::Apply(script, "");
  Bytes script2 = script.bytes();
  const int32_t nullResult = ApplyPackage(script2.data(), script.size(), nullptr);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(result, ApplyOk);
  EXPECT_EQ(nullResult, ApplyOk);
  EXPECT_EQ(package_test::ReadBytes(here + "/a.bak"), Text("cwd"));
  EXPECT_EQ(package_test::ReadBytes(here + "/a.txt"), Text("x"));
}

TEST(CopyPayloadTest, RefusesALengthBeyondTheScript) {
  ScratchFolder folder;
  Script script;
  script.U32(4).Raw(Text("abc"));
  MemoryStreamPtr package(OpenMemoryStream(script.bytes().data(), script.size(), true));
  FileStreamPtr target(OpenFileStream((folder / "t").c_str(), false));
  ASSERT_TRUE(package && target);
  EXPECT_EQ(CopyPayload(package.get(), nullptr, target.get()), ApplyDamaged);
  EXPECT_EQ(package->Tell(), 0);
  ASSERT_EQ(target->Close(), 0);
  EXPECT_TRUE(folder.Get("t").empty());
}

TEST(CopyPayloadTest, CopiesExactlyThePayloadAndStopsBehindIt) {
  ScratchFolder folder;
  Script script;
  script.U32(3).Raw(Text("abcdef"));
  MemoryStreamPtr package(OpenMemoryStream(script.bytes().data(), script.size(), true));
  FileStreamPtr target(OpenFileStream((folder / "t").c_str(), false));
  ASSERT_TRUE(package && target);
  EXPECT_EQ(CopyPayload(package.get(), nullptr, target.get()), 0);
  EXPECT_EQ(package->ReadU8(), 'd');
  ASSERT_EQ(target->Close(), 0);
  EXPECT_EQ(folder.Get("t"), Text("abc"));
}

}  // namespace
