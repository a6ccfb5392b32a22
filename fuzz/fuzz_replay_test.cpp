// Replays the committed seed corpora and every input a fuzzer ever found
// (fuzz/regressions/<target>/) through the fuzz targets, so that a fixed
// finding stays fixed in the ordinary test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

std::string currentInput;

void RecordFailure(const char* what) { ADD_FAILURE() << currentInput << ": " << what; }

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Target Targets[] = {
    {"book_body", FuzzBookBody},
    {"book_merge", FuzzBookMerge},
    {"divided_book", FuzzDividedBook},
    {"update_package", FuzzUpdatePackage},
};

class FuzzReplayTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzReplayTest, CorporaAndFindings) {
  const Target* found = nullptr;
  for (const Target& each : Targets) {
    if (GetParam() == each.name) found = &each;
  }
  ASSERT_NE(found, nullptr);
  const Target& target = *found;
  fuzz::SetFailureHandler(RecordFailure);
  SetFuzzScratchBase(::testing::TempDir().c_str());
  int replayed = 0;
  for (const char* set : {"corpus", "regressions"}) {
    const fs::path folder = fs::path(FIX_SOURCE_DIR) / "fuzz" / set / target.name;
    if (!fs::is_directory(folder)) continue;
    for (const auto& item : fs::directory_iterator(folder)) {
      std::ifstream in(item.path(), std::ios::binary);
      const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
      currentInput = item.path().string();
      target.run(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  fuzz::SetFailureHandler(nullptr);
  // The seeds are committed with the targets; an empty run would prove nothing.
  EXPECT_GT(replayed, 0) << target.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest,
                         ::testing::Values("book_body", "book_merge", "divided_book", "update_package"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
