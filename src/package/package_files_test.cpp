#include "package/package_files.h"

#include <gtest/gtest.h>

#include "package/package_test_support.h"
#include "stream/byte_stream.h"

namespace {

using package_test::ScratchFolder;
using package_test::Snapshot;
using package_test::Text;

TEST(RenameNoReplaceTest, MovesOnlyToAFreeName) {
  ScratchFolder folder;
  folder.Put("a", Text("A"));
  folder.Put("b", Text("B"));
  EXPECT_EQ(RenameNoReplace((folder / "a").c_str(), (folder / "b").c_str()), -1);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a", Text("A")}, {"b", Text("B")}}));

  EXPECT_EQ(RenameNoReplace((folder / "a").c_str(), (folder / "c").c_str()), 0);
  EXPECT_EQ(folder.Take(), (Snapshot{{"b", Text("B")}, {"c", Text("A")}}));

  EXPECT_EQ(RenameNoReplace((folder / "missing").c_str(), (folder / "d").c_str()), -1);
  EXPECT_EQ(folder.Take(), (Snapshot{{"b", Text("B")}, {"c", Text("A")}}));
}

// This platform has both: one content under two names, and a rename that
// takes the place of a file.
TEST(SystemPackageFilesTest, LinksWithoutReplacingAndReplacesInOneStep) {
  ScratchFolder folder;
  folder.Put("a", Text("A"));
  folder.Put("b", Text("B"));
  PackageFiles* files = SystemPackageFiles();
  EXPECT_EQ(files->Link((folder / "a").c_str(), (folder / "b").c_str()), -1);
  EXPECT_EQ(files->Link((folder / "a").c_str(), (folder / "c").c_str()), 0);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a", Text("A")}, {"b", Text("B")}, {"c", Text("A")}}));

  EXPECT_EQ(files->Replace((folder / "b").c_str(), (folder / "a").c_str()), 0);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a", Text("B")}, {"c", Text("A")}}));
  EXPECT_EQ(files->Replace((folder / "b").c_str(), (folder / "a").c_str()), -1);
  EXPECT_EQ(files->Replace((folder / "c").c_str(), (folder / "d").c_str()), 0);
  EXPECT_EQ(folder.Take(), (Snapshot{{"a", Text("B")}, {"d", Text("A")}}));
}

TEST(SystemPackageFilesTest, TellsFilesFromFolders) {
  ScratchFolder folder;
  folder.Put("sub/file", Text("x"));
  PackageFiles* files = SystemPackageFiles();
  EXPECT_EQ(files->Exists((folder / "sub/file").c_str()), PathFile);
  EXPECT_EQ(files->Exists((folder / "sub").c_str()), PathOther);
  EXPECT_EQ(files->Exists((folder / "none").c_str()), PathAbsent);
  EXPECT_EQ(files->Exists((folder / "sub/file/below").c_str()), PathAbsent);
}

TEST(SystemPackageFilesTest, WritesCommitsAndClosesThroughTheStreams) {
  ScratchFolder folder;
  PackageFiles* files = SystemPackageFiles();
  StreamPtr file(files->OpenForWriting((folder / "f").c_str()));
  ASSERT_TRUE(file);
  const uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(file->Write(bytes, 3), 3);
  EXPECT_EQ(files->Commit(file.get()), 0);
  EXPECT_EQ(files->Close(file.get()), 0);
  file.reset();
  EXPECT_EQ(folder.Get("f"), (package_test::Bytes{1, 2, 3}));
  EXPECT_EQ(files->Remove((folder / "f").c_str()), 0);
  EXPECT_EQ(files->Remove((folder / "f").c_str()), -1);
  EXPECT_EQ(files->OpenForReading((folder / "f").c_str()), nullptr);
}

}  // namespace
