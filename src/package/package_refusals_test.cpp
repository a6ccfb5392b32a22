// Entries that would lose the present file, or write outside the folder, or
// wait for ever, are refused with nothing changed; what an update of its own
// left under its temporary names never leads it astray; and the longest
// names apply.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "package/entry_path.h"
#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

enum Thing { Folder, LinkToFolder, Fifo, LinkToPresent, Nothing };

// Puts a thing other than a regular file under `name`.
void Make(const ScratchFolder& folder, const std::string& name, Thing thing) {
  switch (thing) {
    case Folder:
      folder.Put(name + "/inside", Text("inside"));
      break;
    case LinkToFolder:
      folder.Put("sub/inside", Text("inside"));
      ASSERT_EQ(symlink("sub", (folder / name).c_str()), 0);
      break;
    case Fifo:
      ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
      break;
    case LinkToPresent:
      ASSERT_EQ(symlink("a.txt", (folder / name).c_str()), 0);
      break;
    case Nothing:
      break;
  }
}

TEST(PackageRefusalTest, AnEntryThatWouldLoseThePresentFileChangesNothing) {
  struct Case {
    const char* what;
    Script script;
    Thing underOldName;
    int32_t result;
  } cases[] = {
      {"old name a folder", Script().File("a.bak", "a.txt", Text("new")), Folder, ApplyCannotCreate},
      {"old name a link to a folder", Script().File("a.bak", "a.txt", Text("new")), LinkToFolder,
       ApplyCannotCreate},
      {"old name a FIFO", Script().File("a.bak", "a.txt", Text("new")), Fifo, ApplyCannotCreate},
      {"book, old name a folder", Script().Head(KindBook, "a.bak", "a.txt").U32(0xFFFFFFFF), Folder,
       ApplyCannotCreate},
      {"old name a link to the present file", Script().File("a.bak", "a.txt", Text("new")), LinkToPresent,
       ApplyUnsafeName},
      {"equal names", Script().File("a.txt", "a.txt", Text("new")), Nothing, ApplyUnsafeName},
      {"names apart in case", Script().File("A.TXT", "a.txt", Text("new")), Nothing, ApplyUnsafeName},
      {"names apart in a trailing dot", Script().File("a.txt.", "a.txt", Text("new")), Nothing,
       ApplyUnsafeName},
      {"book, names apart in a trailing space", Script().Head(KindBook, "a.txt ", "a.txt").U32(0xFFFFFFFF),
       Nothing, ApplyUnsafeName},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    folder.Put("a.txt", Text("present"));
    Make(folder, "a.bak", c.underOldName);
    const Snapshot before = folder.Take();
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(c.script, folder.Path(), &report), c.result);
    EXPECT_NE(report.cause, nullptr);
    EXPECT_EQ(report.systemError, 0) << "a refusal is no failure of the system's";
    EXPECT_EQ(folder.Take(), before);
  }
}

// Names that Windows takes for one file, in code page 932 bytes: ｒｅａｄｍｅ
// and ＲＥＡＤＭＥ in full-width letters, and an undefined pair, which Windows
// reads as ・ (0x81 0x45).
const std::string FullWidthLower = "\x82\x92\x82\x85\x82\x81\x82\x84\x82\x8D\x82\x85.txt";
const std::string FullWidthUpper = "\x82\x71\x82\x64\x82\x60\x82\x63\x82\x6C\x82\x64.txt";
const std::string UndefinedPair = "a\x83\x7F.txt";
const std::string MiddleDot = "a\x81\x45.txt";

// One name that plays two roles across the script, as Windows compares
// names, is refused before anything is touched: were the later entry
// carried out, it would take the file an earlier one wrote for the present
// one, find its old name taken and keep nothing, or keep a file where an
// earlier one writes. A repetition of an entry changes nothing more.
TEST(PackageRefusalTest, ANameInTwoRolesAcrossTheScriptChangesNothing) {
  struct Case {
    const char* what;
    Script script;
    int32_t failedEntry;  // 0: applied
  } cases[] = {
      {"an old name that is an earlier new name in another case",
       Script().File("readme.old", "readme.txt", Text("1")).File("README.TXT", "bantoki.ini", Text("2")), 2},
      {"the same with a trailing dot",
       Script().File("readme.old", "readme.txt", Text("1")).File("readme.txt.", "bantoki.ini", Text("2")), 2},
      {"the same in full-width letters",
       Script().File("readme.old", FullWidthLower, Text("1")).File(FullWidthUpper, "bantoki.ini", Text("2")), 2},
      {"the same through an undefined pair",
       Script().File("readme.old", MiddleDot, Text("1")).File(UndefinedPair, "bantoki.ini", Text("2")), 2},
      {"one entry's two names in full-width letters", Script().File(FullWidthLower, FullWidthUpper, Text("1")),
       1},
      {"a new name that is an earlier old name",
       Script().File("readme.old", "readme.txt", Text("1")).File("b.old", "README.OLD", Text("2")), 2},
      {"two files kept under one old name",
       Script().File("a.old", "readme.txt", Text("1")).File("A.OLD", "bantoki.ini", Text("2")), 2},
      {"a repetition", Script().File("a.old", "readme.txt", Text("1")).File("a.old", "readme.txt", Text("2")), 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    folder.Put("readme.txt", Text("present readme"));
    folder.Put("bantoki.ini", Text("present ini"));
    const Snapshot before = folder.Take();
    ApplyReport report;
    const int32_t result = package_test::Apply(c.script, folder.Path(), &report);
    if (c.failedEntry == 0) {
      EXPECT_EQ(result, ApplyOk) << (report.cause ? report.cause : "");
      EXPECT_EQ(folder.Take(), (Snapshot{{"a.old", Text("present readme")},
                                         {"bantoki.ini", Text("present ini")},
                                         {"readme.txt", Text("2")}}));
      continue;
    }
    EXPECT_EQ(result, ApplyUnsafeName);
    EXPECT_EQ(report.failedEntry, c.failedEntry);
    EXPECT_EQ(report.entriesApplied, 0);
    EXPECT_EQ(folder.Take(), before);
  }
}

// A link or a FIFO under a temporary name of the entry, whether this
// updater's or an earlier one's, is removed as it stands: nothing is written
// where a link leads, and nothing waits on the FIFO.
TEST(PackageRefusalTest, ALinkOrAFifoUnderATemporaryNameIsRemovedUnfollowed) {
  const std::string temporary[] = {"a.txt" + std::string(TempNewSuffix), TempEntryName("a.txt", false),
                                   TempEntryName("a.txt", true)};
  for (const std::string& name : temporary) {
    for (bool fifo : {false, true}) {
      SCOPED_TRACE(name + (fifo ? ": a FIFO" : ": a link"));
      ScratchFolder folder;
      ScratchFolder outside("_outside");
      folder.Put("a.txt", Text("present"));
      int reader = -1;
      if (fifo) {
        ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
        // A reader, so that a writer's open would not wait.
        reader = open((folder / name).c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
      } else {
        ASSERT_EQ(symlink((outside / "target").c_str(), (folder / name).c_str()), 0);
      }
      Script script;
      script.File("a.bak", "a.txt", Text("new"));
      ApplyReport report;
      EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyOk)
          << (report.cause ? report.cause : "");
      if (reader >= 0) close(reader);
      EXPECT_EQ(folder.Take(), (Snapshot{{"a.bak", Text("present")}, {"a.txt", Text("new")}}));
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder / name)));
      EXPECT_TRUE(outside.Take().empty());
    }
  }
}

// A name of 254 bytes, the longest the format holds, fills a file name
// component nearly to its 255-byte limit; its temporary files still fit.
TEST(PackageRefusalTest, TheLongestNamesApply) {
  const std::string longest = std::string(250, 'n') + ".txt";
  const std::string kept = std::string(250, 'o') + ".bak";
  ScratchFolder folder;
  folder.Put(longest, Text("present"));
  Script script;
  script.File(kept, longest, Text("new"));
  ApplyReport report;
  EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyOk)
      << (report.cause ? report.cause : "");
  EXPECT_EQ(folder.Take(), (Snapshot{{kept, Text("present")}, {longest, Text("new")}}));
}

}  // namespace
