// Replays the committed seed corpora and every input a fuzzer ever found
// (fuzz/regressions/<target>/) through the fuzz targets, so that a fixed
// finding stays fixed in the ordinary test run; and checks that the package
// seeds still fit the install folder the package target starts from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/seed_books.h"
#include "package/update_package.h"

namespace {

namespace fs = std::filesystem;

std::string currentInput;

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void RecordFailure(const char* what) { ADD_FAILURE() << currentInput << ": " << what; }

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Target Targets[] = {
    {"book_body", FuzzBookBody},           {"book_merge", FuzzBookMerge},   {"divided_book", FuzzDividedBook},
    {"update_package", FuzzUpdatePackage}, {"large_sizes", FuzzLargeSizes},
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
      const std::vector<uint8_t> bytes = ReadAll(item.path());
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
                         ::testing::Values("book_body", "book_merge", "divided_book", "update_package",
                                           "large_sizes"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// The package seeds were built against the install folder the package
// target starts from. Should the seed books change without the corpus being
// made again, the seeds' book entries would no longer merge.
TEST(FuzzSeedsTest, DataFileSeedBringsTheInstallFolderToTheNewBooks) {
  const fs::path folder = fs::path(::testing::TempDir()) / "fuzz-seed-install";
  fs::remove_all(folder);
  fs::create_directories(folder / "books");
  const fuzz::FileSet install = fuzz::SeedInstall((folder / "books").string());
  ASSERT_EQ(install.size(), 4u);
  for (const auto& [name, bytes] : install) WriteAll(folder / "install" / name, bytes);

  std::vector<uint8_t> seed = ReadAll(fs::path(FIX_SOURCE_DIR) / "fuzz/corpus/update_package/upda.dat");
  ASSERT_GT(seed.size(), 1u);
  ASSERT_EQ(seed[0], 0) << "a data file, not a bare script";
  WriteAll(folder / "upda.dat", std::vector<uint8_t>(seed.begin() + 1, seed.end()));
  std::vector<uint8_t> script;
  const char* cause = nullptr;
  ASSERT_EQ(ReadUpdatePackage((folder / "upda.dat").string().c_str(), &script, &cause), 0) << cause;
  ApplyReport report;
  ASSERT_EQ(ApplyPackage(script.data(), static_cast<uint32_t>(script.size()),
                         (folder / "install").string().c_str(), &report),
            ApplyOk);

  struct Book {
    const char* name;
    const char* kept;  // where the entry keeps the installed book
    fuzz::SeedBook reached;
  };
  for (const Book& book : {Book{"joseki.dat", "joseki.bak", fuzz::SeedSingleNew},
                           Book{"book/div.dat", "book/div.bak", fuzz::SeedDividedNew}}) {
    const fs::path packed = folder / "books" / ("new-" + std::to_string(book.reached) + ".dat");
    ASSERT_TRUE(fuzz::PackSeedBook(book.reached, packed.string()));
    EXPECT_EQ(ReadAll(folder / "install" / book.name), ReadAll(packed)) << book.name;
    EXPECT_EQ(ReadAll(folder / "install" / book.kept), install.at(book.name)) << book.name;
  }
  fs::remove_all(folder);
}

}  // namespace
