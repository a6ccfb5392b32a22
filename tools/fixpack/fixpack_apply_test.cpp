#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "book/book_body.h"
#include "book/joseki_table.h"
#include "fixpack/fixpack_commands.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

struct Outcome {
  int status;
  std::string output;
};

Outcome RunCommand(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = RunApply(static_cast<int>(argv.size()), argv.data());
  Outcome outcome{status, ::testing::internal::GetCapturedStdout()};
  outcome.output += ::testing::internal::GetCapturedStderr();
  return outcome;
}

// An install folder with a.txt, and upda.dat writing a.txt afresh and then
// sub\b.txt.
void PutTwoFilePackage(ScratchFolder* folder) {
  folder->Put("install/a.txt", Text("old"));
  Script script;
  script.File("a.bak", "a.txt", Text("new")).File("b.bak", "sub\\b.txt", Text("b"));
  folder->Put("upda.dat", package_test::DataFile(script.bytes()));
}

TEST(FixpackApplyTest, AppliesAndSaysSo) {
  ScratchFolder folder;
  PutTwoFilePackage(&folder);
  folder.Put("install/sub/keep", Text(""));

  const Outcome outcome = RunCommand({folder / "upda.dat", folder / "install"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.output.find("applied 2 entries"), std::string::npos) << outcome.output;
  EXPECT_EQ(folder.Get("install/a.txt"), Text("new"));
  EXPECT_EQ(folder.Get("install/a.bak"), Text("old"));
  EXPECT_EQ(folder.Get("install/sub/b.txt"), Text("b"));
}

TEST(FixpackApplyTest, NamesTheFailedEntryAndItsCause) {
  ScratchFolder folder;
  folder.Put("install/a.txt", Text("old"));
  Script script;
  script.File("a.bak", "a.txt", Text("new"));
  script.Head(KindBook, "joseki.bak", "joseki.dat").U32(0xFFFFFFFF);
  folder.Put("upda.dat", package_test::DataFile(script.bytes()));

  const Outcome outcome = RunCommand({folder / "upda.dat", folder / "install"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.output.find("entry 2"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("joseki.dat"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("no old file"), std::string::npos) << outcome.output;
  EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 1);
}

TEST(FixpackApplyTest, DamagedDataFileChangesNothing) {
  ScratchFolder folder;
  folder.Put("install/a.txt", Text("old"));
  Script script;
  script.File("a.bak", "a.txt", Text("new"));
  auto file = package_test::DataFile(script.bytes());
  file.pop_back();
  folder.Put("upda.dat", file);
  const Snapshot before = folder.Take();

  const Outcome outcome = RunCommand({folder / "upda.dat", folder / "install"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.output.find("not applied"), std::string::npos) << outcome.output;
  EXPECT_EQ(folder.Take(), before);
}

// A small file system of its own, mounted for one test and gone after it.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path) : path_(path) {
    std::filesystem::create_directories(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (!mounted_) error_ = strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

  // Writes a file of noise until the disk is full, then gives back `spare`
  // bytes of it.
  void FillLeaving(long spare) const {
    const std::string filler = path_ + "/filler";
    FILE* file = fopen(filler.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> block(4096);
    uint32_t seed = 1;
    for (;;) {
      for (uint8_t& byte : block)
        byte =
            static_cast<uint8_t>((seed = static_cast<uint32_t>(uint64_t{seed} * 1103515245u + 12345u)) >> 16);
      if (fwrite(block.data(), 1, block.size(), file) != block.size() || fflush(file) != 0) break;
    }
    fclose(file);
    const auto size = static_cast<long>(std::filesystem::file_size(filler));
    ASSERT_GT(size, spare);
    std::filesystem::resize_file(filler, static_cast<uintmax_t>(size - spare));
  }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

// A book of `positions` positions whose moves carry noise, so that its body
// packs to about its raw size.
Bytes NoisyBook(uint32_t positions) {
  JosekiTablePtr table(CreateJosekiTable(1021));
  uint32_t seed = 7;
  for (uint32_t i = 0; i < positions; ++i) {
    for (uint16_t code = 1; code <= 2; ++code) {
      seed = static_cast<uint32_t>(uint64_t{seed} * 1103515245u + 12345u);
      PutMove(table.get(), PositionKey{0x1000 + i, i}, BookMove{code, 0, seed});
    }
  }
  Bytes raw(RawBodySize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                        static_cast<uint32_t>(table->moveCount)));
  EXPECT_EQ(SaveJosekiTable(table.get(), raw.data(), static_cast<uint32_t>(raw.size())), 0);
  return package_test::BookFile(raw);
}

// The disk fills up while the new book is written: the message names the
// full disk, and the install folder is as it was.
TEST(FixpackApplyTest, AFullDiskIsNamed) {
  ScratchFolder folder;
  SmallDisk disk(folder / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "no small file system can be mounted here: " << disk.error();
  const std::string install = folder / "disk/install";
  std::filesystem::create_directories(install);
  package_test::WriteBytes(install + "/joseki.dat", NoisyBook(3000));
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 9).U32(0xFFFFFFFF);
  folder.Put("upda.dat", package_test::DataFile(script.bytes()));
  disk.FillLeaving(8192);
  const Snapshot before = folder.Take();

  const Outcome outcome = RunCommand({folder / "upda.dat", install});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.output.find(std::string(": ") + strerror(ENOSPC)), std::string::npos) << outcome.output;
  EXPECT_EQ(folder.Take(), before);
}

TEST(FixpackApplyTest, SaysWhatIsWrongInWords) {
  ScratchFolder folder;
  PutTwoFilePackage(&folder);
  folder.Put("book.dat", Text(std::string("JSKDIV1\0", 8) + std::string(300, '\0')));
  folder.Put("readme.txt", Text("a readme, given for the data file\r\n"));
  const struct {
    std::string data, into, said;
  } cases[] = {
      {"upda.dat", "absent", "fixpack apply: " + folder / "absent" + ": no such folder\n"},
      {"book.dat", "install", "fixpack apply: " + folder / "book.dat" + " is a divided book, not an update data file\n"},
      {"readme.txt", "install", "is not an update data file: no zlib stream begins behind its two sizes\n"},
      {"upda.dat", "install",
       "entry 2 (file b.bak -> sub\\b.txt) in " + folder / "install" +
           ": its folder sub is missing; the updater makes no folders, so the install must hold it; 1 entry "
           "before it stays applied\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data + " " + c.into);
    const Outcome outcome = RunCommand({folder / c.data, folder / c.into});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.output.find(c.said), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("result"), std::string::npos) << outcome.output;
  }
}

TEST(FixpackApplyTest, WrongArgumentsAreAUsageError) {
  EXPECT_EQ(RunCommand({}).status, 2);
  EXPECT_EQ(RunCommand({"only-one"}).status, 2);
  EXPECT_EQ(RunCommand({"a", "b", "c"}).status, 2);
}

}  // namespace
