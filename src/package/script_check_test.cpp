// A damaged script changes nothing: the whole script is checked before its
// first entry touches a file, and fails with what its entry loop would give
// at the damaged entry. A sound script is applied exactly as the loop alone
// applies it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "package/entry_path.h"
#include "package/package_entries.h"
#include "package/package_files.h"
#include "package/script_check.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

constexpr uint32_t Terminator = 0xFFFFFFFF;

Snapshot Install() {
  std::vector<Bytes> divisions;
  for (uint32_t k = 0; k < 64; ++k)
    divisions.push_back(package_test::RawBook({{{0x100 + k, k}, {{5, 0, 0}}}}));
  return {{"joseki.dat", package_test::BookFile(package_test::RawBook({{{0x40, 0}, {{5, 1, 7}}}}))},
          {"book/div.dat", package_test::DividedFile(divisions)},
          {"b.txt", Text("b0")}};
}

// Two sound entries whose lists the check has to frame to find the third:
// a book whose list holds a group of no records and a delete, and a divided
// book whose last list ends in a group of two records. `plain`, when given,
// receives where the divided book's middle lists begin and end: terminators
// and a few one-record groups, nothing that its first and last lists and the
// book's list do not hold.
Script TwoSoundEntries(std::pair<uint32_t, uint32_t>* plain = nullptr) {
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 9);
  script.U32(0x41).U32(0).U8(0).Group(0x40, 0, 5, true).U32(63);
  script.Head(KindDividedBook, "book\\div.bak", "book\\div.dat").U32(0xFFFFFFFF).U32(Terminator);
  if (plain != nullptr) plain->first = script.size();
  for (uint32_t k = 1; k < 63; ++k) {
    if (k % 9 == 4) script.Group(0x100 + k, k, 2);
    script.U32(k % 2 == 0 ? Terminator : 0);
  }
  if (plain != nullptr) plain->second = script.size();
  // Two records: a put of move 3 and a delete of move 5.
  script.U32(0x100 + 63).U32(63).U8(2).U32(0x00010003).U32(1).U32(0xFFFF0005).U32(0xFFFFFFFF);
  return script.U32(Terminator);
}

// The system's file operations without their flushes to the disk, which
// would make the many applications here slow and prove nothing.
class UnflushedFiles final : public PackageFiles {
 public:
  ByteStream* OpenForReading(const char* path) override { return real_->OpenForReading(path); }
  ByteStream* OpenForWriting(const char* path) override { return real_->OpenForWriting(path); }
  int32_t Commit(ByteStream* file) override { return file != nullptr ? 0 : -1; }
  int32_t Close(ByteStream* file) override { return real_->Close(file); }
  int32_t Rename(const char* from, const char* to) override { return RenameNoReplace(from, to); }
  int32_t Link(const char* present, const char* second) override { return LinkFile(present, second); }
  int32_t Replace(const char* from, const char* to) override { return RenameReplacing(from, to); }
  int32_t Remove(const char* path) override { return real_->Remove(path); }
  PathState Exists(const char* path) override { return real_->Exists(path); }
  bool IsReadOnly(const char* path) override { return real_->IsReadOnly(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    return real_->MarkReadOnly(path, readOnly);
  }
  FileIdentity Identity(const char* one, const char* other) override { return real_->Identity(one, other); }

 private:
  PackageFiles* real_ = SystemPackageFiles();
};

struct Outcome {
  int32_t result;
  ApplyReport report;
  Snapshot folder;
};

// Through ApplyPackage, which checks the script first.
Outcome Apply(const Bytes& script, const Snapshot& start) {
  ScratchFolder folder("_checked");
  folder.Restore(start);
  Bytes copy = script;
  Outcome outcome;
  UnflushedFiles files;
  outcome.result = ApplyPackage(copy.data(), static_cast<uint32_t>(copy.size()), folder.Path().c_str(),
                                &outcome.report, &files);
  outcome.folder = folder.Take();
  return outcome;
}

// Through the entry loop alone, which meets each entry's damage only when it
// comes to it.
Outcome ApplyEntryByEntry(const Bytes& script, const Snapshot& start) {
  ScratchFolder folder("_loop");
  folder.Restore(start);
  Bytes copy = script;
  MemoryStreamPtr package(OpenMemoryStream(copy.data(), static_cast<uint32_t>(copy.size()), true));
  Outcome outcome;
  UnflushedFiles files;
  outcome.result = ApplyPackageEntries(package.get(), folder.Path().c_str(), &outcome.report, &files);
  outcome.folder = folder.Take();
  return outcome;
}

bool Refused(int32_t result) { return result == ApplyDamaged || result == ApplyUnsafeName; }

// A damaged or refused entry anywhere fails the package as the loop fails it
// there, with nothing changed; anything else is applied as the loop applies
// it.
void ExpectAsTheLoopButWhole(const Bytes& script, const Snapshot& start, const std::string& what) {
  SCOPED_TRACE(what);
  const Outcome checked = Apply(script, start);
  const Outcome loop = ApplyEntryByEntry(script, start);
  EXPECT_EQ(checked.result, loop.result);
  EXPECT_EQ(checked.report.failedKind, loop.report.failedKind);
  EXPECT_EQ(checked.report.oldName, loop.report.oldName);
  EXPECT_EQ(checked.report.newName, loop.report.newName);
  EXPECT_STREQ(checked.report.cause, loop.report.cause);
  if (Refused(loop.result)) {
    EXPECT_EQ(checked.folder, start);
    EXPECT_EQ(checked.report.entriesApplied, 0);
    EXPECT_EQ(checked.report.failedEntry, loop.report.entriesApplied + 1);
  } else {
    EXPECT_EQ(checked.folder, loop.folder);
    EXPECT_EQ(checked.report.entriesApplied, loop.report.entriesApplied);
  }
}

// Damage in the third entry changes nothing; an end condition there is no
// damage, and ends the script behind the second entry, however damaged
// what follows it is.
TEST(ScriptCheckTest, DamageInTheThirdEntryChangesNothing) {
  const char* cut = "a name is cut short by the end of the script";
  const char* noNul = "a name does not end with its NUL";
  const char* beyond = "the payload runs past the end of the script";
  struct Case {
    const char* what;
    Script third;
    int32_t result;
    const char* cause;  // null: the name check's own reason
    const char* oldName;
    const char* newName;
    bool last;  // the damage needs the script to end behind it
  } cases[] = {
      {"old name without NUL", Script().U32(KindFile).U8(3).Raw(Text("b.b")).Name("b.txt").U32(0),
       ApplyDamaged, noNul, "b.b", "", false},
      {"new name without NUL", Script().U32(KindFile).Name("b.bak").U8(3).Raw(Text("b.t")).U32(0),
       ApplyDamaged, noNul, "b.bak", "b.t", false},
      {"old name cut short", Script().U32(KindBook).U8(9).Raw(Text("b.b")), ApplyDamaged, cut, "b.b", "",
       true},
      {"new name cut short", Script().U32(KindDividedBook).Name("b.bak").U8(9).Raw(Text("b.t")), ApplyDamaged,
       cut, "b.bak", "b.t", true},
      {"only a new name's length", Script().U32(KindFile).Name("b.bak").U8(9), ApplyDamaged, cut, "b.bak", "",
       true},
      {"payload beyond the end", Script().Head(KindFile, "b.bak", "b.txt").U32(6).Raw(Text("12345")),
       ApplyDamaged, beyond, "b.bak", "b.txt", true},
      {"payload length cut short", Script().Head(KindFile, "b.bak", "b.txt").U8(1), ApplyDamaged, beyond,
       "b.bak", "b.txt", true},
      {"huge payload", Script().Head(KindFile, "b.bak", "b.txt").U32(0xFFFFFFF0).Raw(Text("x")), ApplyDamaged,
       beyond, "b.bak", "b.txt", false},
      {"parent folder", Script().File("b.bak", "..\\b.txt", Text("x")), ApplyUnsafeName, nullptr, "b.bak",
       "..\\b.txt", false},
      {"absolute old name", Script().File("/tmp/b.bak", "b.txt", Text("x")), ApplyUnsafeName, nullptr,
       "/tmp/b.bak", "b.txt", false},
      {"drive", Script().File("b.bak", "C:\\b.txt", Text("x")), ApplyUnsafeName, nullptr, "b.bak",
       "C:\\b.txt", false},
      {"empty name", Script().File("", "b.txt", Text("x")), ApplyUnsafeName, nullptr, "", "b.txt", false},
      {"temporary name", Script().File("b.bak", "b.txt.fix-new", Text("x")), ApplyUnsafeName, nullptr,
       "b.bak", "b.txt.fix-new", false},
      {"refused book name", Script().Head(KindBook, "b.bak", "sub\\..\\..\\b.dat").U32(Terminator),
       ApplyUnsafeName, nullptr, "b.bak", "sub\\..\\..\\b.dat", false},
      {"two spellings of one file", Script().File("B.TXT", "b.txt", Text("x")), ApplyUnsafeName, nullptr,
       "B.TXT", "b.txt", false},
      {"kind 3", Script().U32(3).U8(9), ApplyOk, nullptr, "", "", false},
      {"kind -1", Script().U32(0xFFFFFFFF).U8(9), ApplyOk, nullptr, "", "", false},
      {"old name length 0", Script().U32(KindFile).U8(0).U8(9), ApplyOk, nullptr, "", "", false},
      {"new name length 0", Script().U32(KindFile).Name("b.bak").U8(0).U8(9), ApplyOk, nullptr, "", "",
       false},
  };
  const Snapshot start = Install();
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Script script = TwoSoundEntries();
    script.Raw(c.third.bytes());
    if (!c.last) script.File("c.bak", "c.txt", Text("behind the damage"));
    const Outcome outcome = Apply(script.bytes(), start);
    EXPECT_EQ(outcome.result, c.result);
    if (c.result == ApplyOk) {
      EXPECT_EQ(outcome.report.entriesApplied, 2);
      EXPECT_NE(outcome.folder, start);
    } else {
      EXPECT_EQ(outcome.folder, start);
      EXPECT_EQ(outcome.report.entriesApplied, 0);
      EXPECT_EQ(outcome.report.failedEntry, 3);
      EXPECT_EQ(outcome.report.oldName, c.oldName);
      EXPECT_EQ(outcome.report.newName, c.newName);
      EXPECT_STREQ(outcome.report.cause,
                   c.cause != nullptr ? c.cause : CheckEntryNames(c.oldName, c.newName));
    }
    ExpectAsTheLoopButWhole(script.bytes(), start, c.what);
  }
}

// Cut at every length, the script ends inside a name, a payload, a list or
// a header. Where the loop meets damage or a refused name, the check finds
// the same at the same entry, before it; every other cut, the lists cut
// short among them, is sound to the check.
TEST(ScriptCheckTest, ScriptCutAtEveryLengthIsCheckedAsTheLoopReadsIt) {
  std::pair<uint32_t, uint32_t> plain;
  Script script = TwoSoundEntries(&plain);
  script.File("b.bak", "b.txt", Text("b1"));
  const Bytes whole = script.bytes();
  const Snapshot start = Install();
  int refused = 0, sound = 0;
  for (uint32_t length = 0; length <= whole.size(); ++length) {
    if (length > plain.first && length < plain.second) continue;
    SCOPED_TRACE("cut at " + std::to_string(length));
    const Bytes cut(whole.begin(), whole.begin() + length);
    const Outcome loop = ApplyEntryByEntry(cut, start);
    ApplyReport report;
    const int32_t checked = CheckPackageScript(cut.data(), length, &report);
    if (Refused(loop.result)) {
      ++refused;
      EXPECT_EQ(checked, loop.result);
      EXPECT_EQ(report.failedEntry, loop.report.entriesApplied + 1);
      EXPECT_EQ(report.failedKind, loop.report.failedKind);
      EXPECT_EQ(report.oldName, loop.report.oldName);
      EXPECT_EQ(report.newName, loop.report.newName);
      EXPECT_STREQ(report.cause, loop.report.cause);
    } else {
      ++sound;
      EXPECT_EQ(loop.result, ApplyOk);
      EXPECT_EQ(checked, ApplyOk) << report.cause;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(sound, 0);
}

// How a list ends, told apart for those who report it; the records read in
// full are the ones the merge applies.
TEST(FrameBookDiffListTest, TellsWhereAndHowAListEnds) {
  Script list;
  list.U32(0x40).U32(1).U8(2).U32(0x00010003).U32(1).U32(0x00010004).U32(2).U32(0x41).U32(0).U8(0).U32(7);
  const Bytes whole = list.bytes();  // groups at 0 and 25, terminator at 34
  const struct {
    uint32_t size;
    DiffListEnding ending;
    uint32_t end;
    uint32_t groups;
    uint32_t cutAt;
    uint32_t records;
  } cases[] = {
      {38, ListTerminated, 38, 2, 34, 2},           {37, ListEndsInTerminator, 37, 2, 34, 2},
      {34, ListEndsBeforeTerminator, 34, 2, 34, 2}, {33, ListEndsInGroupHead, 33, 1, 25, 2},
      {30, ListEndsInGroupHead, 30, 1, 25, 2},      {24, ListEndsInRecords, 24, 0, 0, 1},
      {16, ListEndsInRecords, 16, 0, 0, 0},         {0, ListEndsBeforeTerminator, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    uint32_t records = 0;
    const DiffListFrame frame = FrameBookDiffList(
        whole.data(), c.size, 0,
        [](const uint8_t*, const uint8_t*, void* count) { ++*static_cast<uint32_t*>(count); }, &records);
    EXPECT_EQ(frame.ending, c.ending);
    EXPECT_EQ(frame.end, c.end);
    EXPECT_EQ(frame.groups, c.groups);
    EXPECT_EQ(frame.cutAt, c.cutAt);
    EXPECT_EQ(records, c.records);
    if (c.ending == ListEndsInRecords) {
      EXPECT_EQ(frame.cutCount, 2u);
    }
  }
}

}  // namespace
