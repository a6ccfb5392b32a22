#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fixpack_commands.h"
#include "package/package_test_support.h"

namespace {

using package_test::ScratchFolder;
using package_test::Script;
using package_test::Snapshot;
using package_test::Text;

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
  ::testing::internal::GetCapturedStderr();
  return outcome;
}

TEST(FixpackApplyTest, AppliesAndSaysSo) {
  ScratchFolder folder;
  folder.Put("install/a.txt", Text("old"));
  Script script;
  script.File("a.bak", "a.txt", Text("new")).File("b.bak", "sub\\b.txt", Text("b"));
  folder.Put("upda.dat", package_test::DataFile(script.bytes()));
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

TEST(FixpackApplyTest, WrongArgumentsAreAUsageError) {
  EXPECT_EQ(RunCommand({}).status, 2);
  EXPECT_EQ(RunCommand({"only-one"}).status, 2);
  EXPECT_EQ(RunCommand({"a", "b", "c"}).status, 2);
}

}  // namespace
