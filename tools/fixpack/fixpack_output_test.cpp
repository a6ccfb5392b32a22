// No command writes over one of its own inputs, however the two paths are
// spelt: the output is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"

namespace fixpack_test {
namespace {

using package_test::Text;

struct OutputCase {
  const char* what;
  int (*command)(int, char**);
  std::vector<std::string> words;  // names in the scratch folder start with @
  const char* role;                // what the refusal says the output is
};

const OutputCase OutputCases[] = {
    {"the old book, spelt through a subfolder", RunBuild, {"@m.txt", "-o", "@sub/../old.dat"}, "m.txt:1: OLDBOOK"},
    {"the manifest", RunBuild, {"@m.txt", "-o", "@./m.txt"}, "the manifest"},
    {"a file entry's source", RunBuild, {"@m.txt", "-o", "@r.txt"}, "m.txt:2: SOURCE"},
    {"a hard link to the new book", RunBuild, {"@m.txt", "-o", "@link.dat"}, "m.txt:1: NEWBOOK"},
    {"the text packed", RunPack, {"@old.txt", "-o", "@old.txt"}, "the text"},
    {"the new book of a diff", RunDiff, {"@old.dat", "@new.dat", "-o", "@./new.dat"}, "the new book"},
    {"the book dumped", RunDump, {"@old.dat", "-o", "@old.dat"}, "the book"},
};

TEST(FixpackOutputs, AnOutputThatIsAnInputIsRefusedAndNothingIsWritten) {
  ScratchFolder folder;
  ASSERT_NO_FATAL_FAILURE(
      PutPackedBook(folder, "old.txt", "buckets 5\n00000040 00000000 0005:0001:00000007\n", "old.dat"));
  ASSERT_NO_FATAL_FAILURE(
      PutPackedBook(folder, "new.txt", "buckets 5\n00000040 00000000 0005:0001:00000008\n", "new.dat"));
  folder.Put("r.txt", Text("release 1.1\r\n"));
  folder.Put("sub/keep.txt", Text("x"));
  folder.Put("m.txt", Text("book joseki.bak joseki.dat old.dat new.dat\nfile readme.old readme.txt r.txt\n"));
  std::filesystem::create_hard_link(folder / "new.dat", folder / "link.dat");
  const auto before = folder.Take();

  for (const OutputCase& row : OutputCases) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> words;
    for (const std::string& word : row.words) words.push_back(word[0] == '@' ? folder / word.substr(1) : word);
    const Outcome outcome = RunTool(row.command, words);
    EXPECT_EQ(outcome.status, 1) << outcome.out;
    EXPECT_TRUE(Contains(outcome.err, row.role)) << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, "an input of this command; nothing was written")) << outcome.err;
    EXPECT_EQ(folder.Take(), before) << "a file was written";
  }
}

}  // namespace
}  // namespace fixpack_test
