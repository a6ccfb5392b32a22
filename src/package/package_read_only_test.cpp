// Product files that carry the read-only mark, as files copied from a CD-ROM
// often do. The applier runs over the real files of a scratch folder, behind
// a layer that keeps the marks as Windows does: a rename keeps a file's mark,
// a second name made by a link shares it, and a read-only file can be neither
// replaced, removed nor opened for writing. Whatever the folder holds, the
// run must end with exactly the files an ordinary run gives, the kept files
// still read-only, the new files ordinary, and no product file's mark ever
// taken off.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "package/entry_path.h"
#include "package/package_files.h"
#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

using Names = std::set<std::string>;

// The name of a path inside the scratch folder, which has no subfolders here.
std::string NameOf(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

// The system's file operations with Windows' read-only marks kept beside
// them, by name. Linked names share one mark.
class ReadOnlyFiles final : public PackageFiles {
 public:
  ReadOnlyFiles(const Names& readOnly, bool links) : links_(links) {
    for (const std::string& name : readOnly) marks_[name] = std::make_shared<bool>(true);
  }

  // The names that are read-only now.
  Names ReadOnly() const {
    Names names;
    for (const auto& [name, mark] : marks_) {
      if (*mark && real_->Exists((folder_ + name).c_str()) == PathFile) names.insert(name);
    }
    return names;
  }
  // The names whose mark the applier took off or put on.
  const Names& Marked() const { return marked_; }
  void SetFolder(const std::string& folder) { folder_ = folder + "/"; }

  ByteStream* OpenForReading(const char* path) override { return real_->OpenForReading(path); }
  ByteStream* OpenForWriting(const char* path) override {
    if (IsReadOnly(path)) return Refused<ByteStream*>(nullptr);
    return real_->OpenForWriting(path);
  }
  int32_t Commit(ByteStream* file) override { return real_->Commit(file); }
  int32_t Close(ByteStream* file) override { return real_->Close(file); }
  int32_t Rename(const char* from, const char* to) override {
    const int32_t renamed = real_->Rename(from, to);
    if (renamed == 0) Move(from, to);
    return renamed;
  }
  int32_t Link(const char* present, const char* second) override {
    if (!links_) return FilesCannot;
    const int32_t linked = real_->Link(present, second);
    const auto mark = marks_.find(NameOf(present));
    if (linked == 0 && mark != marks_.end()) marks_[NameOf(second)] = mark->second;
    return linked;
  }
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING: access denied onto a
  // read-only file.
  int32_t Replace(const char* from, const char* to) override {
    if (!links_) return FilesCannot;
    if (IsReadOnly(to)) return Refused(-1);
    const int32_t replaced = real_->Replace(from, to);
    if (replaced == 0) Move(from, to);
    return replaced;
  }
  // DeleteFileA: access denied for a read-only file.
  int32_t Remove(const char* path) override {
    if (IsReadOnly(path)) return Refused(-1);
    const int32_t removed = real_->Remove(path);
    if (removed == 0) marks_.erase(NameOf(path));
    return removed;
  }
  PathState Exists(const char* path) override { return real_->Exists(path); }
  bool IsReadOnly(const char* path) override {
    const auto mark = marks_.find(NameOf(path));
    return mark != marks_.end() && *mark->second && real_->Exists(path) == PathFile;
  }
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    if (real_->Exists(path) != PathFile) return -1;
    marked_.insert(NameOf(path));
    auto& mark = marks_[NameOf(path)];
    if (!mark) mark = std::make_shared<bool>(false);
    *mark = readOnly;
    return 0;
  }
  FileIdentity Identity(const char* one, const char* other) override { return real_->Identity(one, other); }

 private:
  template <typename T>
  static T Refused(T result) {
    errno = EACCES;
    return result;
  }
  void Move(const char* from, const char* to) {
    const auto mark = marks_.find(NameOf(from));
    if (mark == marks_.end()) {
      marks_.erase(NameOf(to));
      return;
    }
    marks_[NameOf(to)] = mark->second;
    marks_.erase(mark);
  }

  PackageFiles* real_ = SystemPackageFiles();
  bool links_;
  std::string folder_;
  std::map<std::string, std::shared_ptr<bool>> marks_;
  Names marked_;
};

struct Case {
  const char* folderHolds;
  Snapshot folder;
  Names readOnly;       // before the run
  Names readOnlyAfter;  // after it
};

TEST(PackageReadOnlyTest, ReadOnlyFilesAreKeptReadOnlyAndReplacedByOrdinaryOnes) {
  const std::string bookKept = TempEntryName("joseki.dat", true);
  const std::string bookNew = TempEntryName("joseki.dat", false);
  const std::string fileKept = TempEntryName("a.txt", true);
  const std::string fileNew = TempEntryName("a.txt", false);
  const Names temporaries = {bookKept, bookNew, fileKept, fileNew, "a.txt.fix-old", "a.txt.fix-new"};
  const Case cases[] = {
      {"read-only files, for a first application",
       {{"joseki.dat", package_test::OneMoveBook(5)}, {"a.txt", Text("present")}},
       {"joseki.dat", "a.txt"},
       {"joseki.bak", "a.bak"}},
      {"read-only files whose old names are taken, for a second application",
       {{"joseki.dat", package_test::OneMoveBook(7)},
        {"joseki.bak", package_test::OneMoveBook(5)},
        {"a.txt", Text("present")},
        {"a.bak", Text("earlier")}},
       {"joseki.dat", "joseki.bak", "a.txt"},
       {"joseki.bak"}},
      {"what a second application cut off before removing the set-aside file left",
       {{"joseki.dat", package_test::OneMoveBook(5)},
        {"a.txt", Text("new")},
        {"a.bak", Text("earlier")},
        {fileKept, Text("present")}},
       {"joseki.dat", fileKept},
       {"joseki.bak"}},
      {"what a second application cut off between its two renames left",
       {{"joseki.dat", package_test::OneMoveBook(5)},
        {"a.bak", Text("earlier")},
        {fileKept, Text("present")},
        {fileNew, Text("ne")}},
       {"joseki.dat", fileKept},
       {"joseki.bak"}},
      {"what an earlier updater cut off before removing the set-aside file left",
       {{"joseki.dat", package_test::OneMoveBook(5)},
        {"a.txt", Text("new")},
        {"a.bak", Text("earlier")},
        {"a.txt.fix-old", Text("x")}},
       {"joseki.dat", "a.txt.fix-old"},
       {"joseki.bak"}},
      {"what a first application cut off between its two renames left",
       {{"joseki.bak", package_test::OneMoveBook(5)}, {"a.bak", Text("present")}},
       {"joseki.bak", "a.bak"},
       {"joseki.bak", "a.bak"}},
      {"a half-made new file that took the mark",
       {{"joseki.dat", package_test::OneMoveBook(5)}, {bookNew, Text("JoSeKi5")}, {"a.txt", Text("present")}},
       {"joseki.dat", bookNew, "a.txt"},
       {"joseki.bak", "a.bak"}},
  };
  ScratchFolder folder;
  for (const bool links : {true, false}) {
    SCOPED_TRACE(links ? "with links and the replacing rename" : "with renames only");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.folderHolds);
      Script script = package_test::BookAndFilePackage();
      folder.Restore(c.folder);
      ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
      const Snapshot ordinary = folder.Take();

      folder.Restore(c.folder);
      ReadOnlyFiles files(c.readOnly, links);
      files.SetFolder(folder.Path());
      ApplyReport report;
      EXPECT_EQ(package_test::Apply(script, folder.Path(), &report, &files), ApplyOk)
          << (report.cause != nullptr ? report.cause : "");
      EXPECT_EQ(folder.Take(), ordinary);
      EXPECT_EQ(files.ReadOnly(), c.readOnlyAfter);
      for (const std::string& name : files.Marked()) {
        EXPECT_TRUE(temporaries.count(name) != 0) << "the mark of " << name << " was changed";
      }
    }
  }
}

#ifndef _WIN32
// Here a file without its owner's write permission is read-only, so that the
// native tools take the road the Windows program takes. A link counts as no
// file, and its target's mode is never changed through it.
TEST(PackageReadOnlyTest, AFileItsOwnerMayNotWriteIsReadOnlyHere) {
  ScratchFolder folder;
  folder.Put("a.txt", Text("a"));
  const std::string file = folder / "a.txt";
  const std::string link = folder / "link";
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  PackageFiles* files = SystemPackageFiles();
  auto mode = [&file]() {
    struct stat info;
    EXPECT_EQ(stat(file.c_str(), &info), 0);
    return info.st_mode & 07777;
  };

  EXPECT_TRUE(files->IsReadOnly(file.c_str()));
  EXPECT_FALSE(files->IsReadOnly(link.c_str()));
  EXPECT_EQ(files->MarkReadOnly(link.c_str(), false), -1);
  EXPECT_EQ(mode(), 0444u);
  EXPECT_EQ(files->MarkReadOnly(file.c_str(), false), 0);
  EXPECT_EQ(mode(), 0644u);
  EXPECT_FALSE(files->IsReadOnly(file.c_str()));
  EXPECT_EQ(files->MarkReadOnly(file.c_str(), true), 0);
  EXPECT_EQ(mode(), 0444u);
  EXPECT_FALSE(files->IsReadOnly((folder / "none").c_str()));
}
#endif

}  // namespace
