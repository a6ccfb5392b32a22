#include "package/package_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stream/byte_stream.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

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

// A new file is only ever made afresh: whatever takes the name already, a
// link leading out of the folder or to nowhere, or a FIFO, it is refused,
// nothing is written through it and nothing waits on it.
TEST(SystemPackageFilesTest, WritesOnlyIntoANewRegularFile) {
  ScratchFolder folder;
  ScratchFolder outside("_outside");
  folder.Put("file", Text("present"));
  ASSERT_EQ(symlink((outside / "target").c_str(), (folder / "nowhere").c_str()), 0);
  outside.Put("present", Text("outside"));
  ASSERT_EQ(symlink((outside / "present").c_str(), (folder / "elsewhere").c_str()), 0);
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  // A reader, so that a writer's open would not wait.
  const int reader = open((folder / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  PackageFiles* files = SystemPackageFiles();
  for (const char* name : {"file", "nowhere", "elsewhere", "fifo"}) {
    StreamPtr stream(files->OpenForWriting((folder / name).c_str()));
    EXPECT_FALSE(stream) << name;
  }
  close(reader);
  EXPECT_EQ(folder.Get("file"), Text("present"));
  EXPECT_EQ(outside.Take(), (Snapshot{{"present", Text("outside")}}));
}

// Only a regular file is opened for reading: a FIFO (here with a writer, so
// that an open would not wait) or a folder gives null.
TEST(SystemPackageFilesTest, ReadsOnlyRegularFiles) {
  ScratchFolder folder;
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  const int both = open((folder / "fifo").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(both, 0);
  folder.Put("sub/file", Text("x"));
  PackageFiles* files = SystemPackageFiles();
  for (const char* name : {"fifo", "sub"}) {
    StreamPtr stream(files->OpenForReading((folder / name).c_str()));
    EXPECT_FALSE(stream) << name;
  }
  close(both);
  StreamPtr file(files->OpenForReading((folder / "sub/file").c_str()));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->ReadU8(), 'x');
}

TEST(SystemPackageFilesTest, TellsWhetherTwoPathsLeadToOneFile) {
  ScratchFolder folder;
  folder.Put("a", Text("A"));
  folder.Put("b", Text("B"));
  ASSERT_EQ(link((folder / "a").c_str(), (folder / "hard").c_str()), 0);
  ASSERT_EQ(symlink("b", (folder / "soft").c_str()), 0);
  ASSERT_EQ(symlink("missing", (folder / "nowhere").c_str()), 0);
  struct Case {
    const char* one;
    const char* other;
    FileIdentity identity;
  } cases[] = {
      {"a", "b", FilesApart},     {"a", "hard", FilesLinked},   {"b", "soft", FilesOneName},
      {"b", "./b", FilesOneName}, {"a", "missing", FilesApart}, {"nowhere", "missing", FilesApart},
  };
  PackageFiles* files = SystemPackageFiles();
  for (const Case& c : cases) {
    EXPECT_EQ(files->Identity((folder / c.one).c_str(), (folder / c.other).c_str()), c.identity)
        << c.one << " " << c.other;
  }
  EXPECT_EQ(files->Exists((folder / "nowhere").c_str()), PathOther);
}

}  // namespace
