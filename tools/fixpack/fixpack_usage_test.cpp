// fixpack's own words as a console shows them: the usage, each command's
// help and the version. A Windows console is 80 columns wide and wraps a
// line that fills it, and shows bytes beyond ASCII in its own code page, so
// every line is plain ASCII within 79 columns.
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
