// What an application finds when an earlier run was cut off (killed, or the
// power gone) part way through an entry: the temporary files it left beside
// the target. Whatever the moment, the run ends with exactly the folder a
// clean run gives, and no temporary file.
#include <gtest/gtest.h>

#include <string>

#include "package/entry_path.h"
#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

// The folder before the update: a.bak keeps what an earlier update kept, so
// the file entry replaces a.txt.
Snapshot Before() {
  return {
      {"joseki.dat", package_test::OneMoveBook(5)}, {"a.txt", Text("present")}, {"a.bak", Text("earlier")}};
}

struct Case {
  const char* moment;  // where the earlier run was cut off
  Snapshot folder;     // what it left
};

TEST(PackageLeftoversTest, ARunAfterACutOffOneEndsAsACleanRun) {
  ScratchFolder folder;
  folder.Restore(Before());
  Script script = package_test::BookAndFilePackage();
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  const Snapshot clean = folder.Take();

  const Bytes present = Text("present");
  const Bytes half = Text("ne");
  auto with = [](Snapshot files, const std::string& name, const Bytes& bytes) {
    files[name] = bytes;
    return files;
  };
  auto without = [](Snapshot files, const std::string& name) {
    files.erase(name);
    return files;
  };
  const std::string bookNew = TempEntryName("joseki.dat", false);
  const std::string fileNew = TempEntryName("a.txt", false);
  const std::string fileKept = TempEntryName("a.txt", true);
  const Case cases[] = {
      {"while the book was written", with(Before(), bookNew, Text("JoSeKi5"))},
      {"while the file was written", with(with(clean, "a.txt", present), fileNew, half)},
      {"with the present book linked to its old name",
       with(Before(), "joseki.bak", package_test::OneMoveBook(5))},
      // Without a replacing rename: the present file set aside, the new one
      // not yet in place, and then the new one in place.
      {"between the two renames",
       with(with(without(clean, "a.txt"), fileKept, present), fileNew, Text("new"))},
      {"before the set-aside file was removed", with(clean, fileKept, present)},
      {"after the book, before the file", clean},
      // The same two moments, as an earlier updater named its files.
      {"between the two renames of an earlier updater",
       with(with(without(clean, "a.txt"), "a.txt.fix-old", present), "a.txt.fix-new", Text("new"))},
      {"before an earlier updater removed the set-aside file", with(clean, "a.txt.fix-old", present)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.moment);
    folder.Restore(c.folder);
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(script, folder.Path(), &report), ApplyOk)
        << (report.cause ? report.cause : "");
    EXPECT_EQ(folder.Take(), clean);
  }
}

// A leftover goes even when its entry then fails.
TEST(PackageLeftoversTest, ARefusedEntryStillClearsItsLeftovers) {
  ScratchFolder folder;
  folder.Restore({{"joseki.dat.fix-new", Text("half")}, {"joseki.dat.fix-old", Text("x")}});
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").U32(0xFFFFFFFF);
  // The set-aside file is put back as joseki.dat, which then serves as the
  // old book: it is no book, so the merge fails and it stays as it was.
  EXPECT_EQ(package_test::Apply(script, folder.Path()), ApplyWriteFailed);
  EXPECT_EQ(folder.Take(), (Snapshot{{"joseki.dat", Text("x")}}));
}

}  // namespace
