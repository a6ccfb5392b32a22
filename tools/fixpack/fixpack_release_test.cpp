// apply on a copy of a real install: the package's book diff tells when it
// meets another release than it was made for, and --expect holds the folder
// to the release the publisher means to reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"

namespace fixpack_test {
namespace {

using package_test::Text;

const char OldBook[] =
    "buckets 31\n00000040 00000000 0005:0001:00000007 0009:0000:00000000\n00000041 00000002 0003:0000:00000000\n";
const char NewBook[] =
    "buckets 31\n00000040 00000000 0005:0001:00000008 000a:0000:00000000\n00000200 00000005 0007:0000:00000001\n";
const char OtherBook[] = "buckets 31\n00000040 00000000 0005:0001:00000006\n00000300 00000000 0001:0000:00000000\n";

struct ReleaseCase {
  const char* what;
  const char* book;      // what joseki.dat holds before: old, new or other
  const char* kept;      // what joseki.bak holds before, or null for nothing
  const char* effect;    // a part of the book entry's line
  bool warned;           // the folder may hold another release
  int expectStatus;      // of apply --expect with the new release
};

const ReleaseCase ReleaseCases[] = {
    {"the release it was made for", "old", nullptr, "3 puts, 2 deletes\n", false, 0},
    {"another release", "other", nullptr, "3 puts, 2 deletes (2 found no move)", true, 1},
    {"the new release already", "new", nullptr, "3 puts (3 changed nothing), 2 deletes (2 found no move)", true, 0},
    {"an old name a release before kept another book in", "old", "other", "2 deletes (2 found no move)", true, 1},
    {"the package applied a second time", "new", "old", "3 puts, 2 deletes\n", false, 0},
};

TEST(FixpackRelease, ApplyTellsAnotherReleaseAndExpectHoldsTheFolderToTheNewOne) {
  ScratchFolder folder;
  for (const auto& [name, text] : {std::pair<const char*, const char*>{"old", OldBook}, {"new", NewBook},
                                   {"other", OtherBook}}) {
    folder.Put(std::string(name) + ".txt", Text(text));
    ASSERT_EQ(RunTool(RunPack, {folder / (std::string(name) + ".txt"), "-o", folder / name}).status, 0);
  }
  folder.Put("readme-1.1.txt", Text("version 1.1\r\n"));
  folder.Put("m.txt", Text("book joseki.bak joseki.dat old new\nfile readme.old readme.txt readme-1.1.txt\n"));
  ASSERT_EQ(RunTool(RunBuild, {folder / "m.txt", "-o", folder / "upda.dat"}).status, 0);
  folder.Put("release/joseki.dat", folder.Get("new"));
  folder.Put("release/readme.txt", Text("version 1.1\r\n"));

  for (const ReleaseCase& row : ReleaseCases) {
    SCOPED_TRACE(row.what);
    for (const bool expect : {false, true}) {
      const std::string trial = folder / (std::string("trial") + (expect ? "-expect" : ""));
      std::filesystem::remove_all(trial);
      folder.Put(trial.substr(folder.Path().size() + 1) + "/joseki.dat", folder.Get(row.book));
      if (row.kept != nullptr) folder.Put(trial.substr(folder.Path().size() + 1) + "/joseki.bak", folder.Get(row.kept));
      std::vector<std::string> words = {folder / "upda.dat", trial};
      if (expect) words.insert(words.end(), {"--expect", folder / "release"});
      const Outcome outcome = RunTool(RunApply, words);
      EXPECT_TRUE(Contains(outcome.out, "applied 2 entries")) << outcome.out;
      EXPECT_TRUE(Contains(outcome.out, "1 book    joseki.bak -> joseki.dat: ")) << outcome.out;
      EXPECT_TRUE(Contains(outcome.out, row.effect)) << outcome.out;
      EXPECT_EQ(Contains(outcome.err, "may hold another release"), row.warned) << outcome.err;
      EXPECT_EQ(outcome.status, expect ? row.expectStatus : 0) << outcome.out << outcome.err;
      if (expect && row.expectStatus != 0) {
        EXPECT_TRUE(Contains(outcome.out, "differs: joseki.dat: ")) << outcome.out;
      }
    }
  }
}

}  // namespace
}  // namespace fixpack_test
