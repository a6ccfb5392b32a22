// fixpack's own words as a console shows them: the usage, each command's
// help and the version. A Windows console is 80 columns wide and wraps a
// line that fills it, and shows bytes beyond ASCII in its own code page, so
// every line is plain ASCII within 79 columns.
#include <filesystem>
#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "fixpack/fixpack_test_support.h"

namespace fixpack_test {
namespace {

constexpr size_t ConsoleColumns = 79;

const std::vector<std::string> HelpRequests[] = {
    {"fixpack", "--help"},           {"fixpack", "-h"},
    {"fixpack", "apply", "--help"},  {"fixpack", "build", "--help"},
    {"fixpack", "diff", "--help"},   {"fixpack", "inspect", "--help"},
    {"fixpack", "verify", "--help"}, {"fixpack", "dump", "--help"},
    {"fixpack", "pack", "--help"},
};

TEST(FixpackUsage, EveryHelpFitsAConsoleLine) {
  for (const std::vector<std::string>& request : HelpRequests) {
    SCOPED_TRACE(request[1] + " " + (request.size() > 2 ? request[2] : ""));
    const Outcome outcome = RunTool(RunFixpack, request);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    ASSERT_FALSE(outcome.out.empty());
    EXPECT_EQ(outcome.out.back(), '\n');
    size_t lineStart = 0;
    for (size_t at = 0; at < outcome.out.size(); ++at) {
      const unsigned char c = static_cast<unsigned char>(outcome.out[at]);
      if (c == '\n') {
        EXPECT_LE(at - lineStart, ConsoleColumns) << outcome.out.substr(lineStart, at - lineStart);
        lineStart = at + 1;
      } else {
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int{c} << " at " << at;
      }
    }
  }
}

TEST(FixpackUsage, VersionIsTheProjects) {
  const Outcome outcome = RunTool(RunFixpack, {"fixpack", "--version"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "fixpack " FIX_PROJECT_VERSION "\n");
  EXPECT_EQ(outcome.err, "");
}

}  // namespace
}  // namespace fixpack_test

namespace fixpack_test {
namespace {

struct FormCase {
  std::vector<std::string> words;  // behind "fixpack", in the scratch folder
  int status;
  const char* made;    // a file the command must have written, or null
  const char* stream;  // "out" or "err": where `text` must stand
  const char* text;
};

const FormCase FormCases[] = {
    {{"pack", "t.txt", "-o", "a.dat"}, 0, "a.dat", "out", "a.dat: single book"},
    {{"pack", "t.txt", "-ob.dat"}, 0, "b.dat", "out", "b.dat: single book"},
    {{"pack", "--output=c.dat", "t.txt", "--threads=3"}, 0, "c.dat", "out", "c.dat: single book"},
    {{"pack", "--threads", "2", "--output", "d.dat", "--", "-t.txt"}, 0, "d.dat", "out", "1 position"},
    {{"dump", "a.dat", "-o", "-"}, 0, nullptr, "out", "00000040 00000000 0005:0001:00000007\n"},
    {{"help", "pack"}, 0, nullptr, "out", "usage: fixpack pack TEXT"},
    {{"biuld", "t.txt"}, 2, nullptr, "err", "'biuld' is not a command; did you mean 'build'?\n"},
    {{"pack", "t.txt"}, 2, nullptr, "err",
     "fixpack pack: give the book to write with -o FILE\nusage: fixpack pack TEXT -o FILE [--buckets B] "
     "[--divided] [--threads N]\nRun `fixpack pack --help` for more.\n"},
    {{"pack", "t.txt", "-o", "e.dat", "--output=f.dat"}, 2, nullptr, "err", "option -o is given twice\n"},
    {{"pack", "t.txt", "-o", "g.dat", "--bogus"}, 2, nullptr, "err", "unknown option --bogus\n"},
    {{"pack", "t.txt", "-o"}, 2, nullptr, "err", "option --output needs a value\n"},
    {{"pack", "--", "t.txt", "-o", "h.dat"}, 2, nullptr, "err", "give one TEXT\n"},
};

TEST(FixpackUsage, TheCommandLineTakesTheFormsOfOtherTools) {
  ScratchFolder folder;
  folder.Put("t.txt", package_test::Text("buckets 7\n00000040 00000000 0005:0001:00000007\n"));
  folder.Put("-t.txt", folder.Get("t.txt"));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  for (const FormCase& row : FormCases) {
    std::vector<std::string> words = {"fixpack"};
    words.insert(words.end(), row.words.begin(), row.words.end());
    std::string line;
    for (const std::string& word : row.words) line += word + " ";
    SCOPED_TRACE(line);
    const Outcome outcome = RunTool(RunFixpack, words);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    if (row.made != nullptr) {
      EXPECT_TRUE(folder.Has(row.made));
    }
    const std::string& text = std::string(row.stream) == "out" ? outcome.out : outcome.err;
    EXPECT_TRUE(Contains(text, row.text)) << text;
  }
  std::filesystem::current_path(before);
  EXPECT_FALSE(folder.Has("e.dat") || folder.Has("f.dat") || folder.Has("g.dat") || folder.Has("h.dat"));
}

}  // namespace
}  // namespace fixpack_test
