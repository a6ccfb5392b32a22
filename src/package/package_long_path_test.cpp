// Install folders whose paths come close to the system's limit. The applier
// runs over the real files of a scratch folder behind a layer that refuses
// a plain path longer than PlainPathLimit as Windows' narrow calls do (no
// such file, nothing made or moved), and takes the long form, when it gives
// one, at any length. Where every path of the entry's own names fits, as the
// system's own rename-then-create would need, the entry must apply; where
// one of them does not, it fails with nothing changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "package/package_files.h"
#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

const std::string LongPrefix = "\\\\?\\";

class PathLimitFiles final : public PackageFiles {
 public:
  explicit PathLimitFiles(bool longForm) : longForm_(longForm) {}

  ByteStream* OpenForReading(const char* path) override {
    std::string real;
    return Reaches(path, &real) ? real_->OpenForReading(real.c_str()) : nullptr;
  }
  ByteStream* OpenForWriting(const char* path) override {
    std::string real;
    return Reaches(path, &real) ? real_->OpenForWriting(real.c_str()) : nullptr;
  }
  int32_t Commit(ByteStream* file) override { return real_->Commit(file); }
  int32_t Close(ByteStream* file) override { return real_->Close(file); }
  int32_t Rename(const char* from, const char* to) override {
    std::string a, b;
    return Reaches(from, &a) && Reaches(to, &b) ? real_->Rename(a.c_str(), b.c_str()) : -1;
  }
  int32_t Link(const char* present, const char* second) override {
    std::string a, b;
    return Reaches(present, &a) && Reaches(second, &b) ? real_->Link(a.c_str(), b.c_str()) : -1;
  }
  int32_t Replace(const char* from, const char* to) override {
    std::string a, b;
    return Reaches(from, &a) && Reaches(to, &b) ? real_->Replace(a.c_str(), b.c_str()) : -1;
  }
  int32_t Remove(const char* path) override {
    std::string real;
    return Reaches(path, &real) ? real_->Remove(real.c_str()) : -1;
  }
  PathState Exists(const char* path) override {
    std::string real;
    return Reaches(path, &real) ? real_->Exists(real.c_str()) : PathAbsent;
  }
  bool IsReadOnly(const char* path) override {
    std::string real;
    return Reaches(path, &real) && real_->IsReadOnly(real.c_str());
  }
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    std::string real;
    return Reaches(path, &real) ? real_->MarkReadOnly(real.c_str(), readOnly) : -1;
  }
  FileIdentity Identity(const char* one, const char* other) override {
    std::string a, b;
    return Reaches(one, &a) && Reaches(other, &b) ? real_->Identity(a.c_str(), b.c_str()) : FilesApart;
  }
  std::string LongForm(const char* path) override { return longForm_ ? LongPrefix + path : std::string(); }

 private:
  bool Reaches(const char* path, std::string* real) const {
    const std::string p = path;
    if (p.compare(0, LongPrefix.size(), LongPrefix) == 0) {
      *real = p.substr(LongPrefix.size());
      return true;
    }
    *real = p;
    return p.size() <= PlainPathLimit;
  }

  PackageFiles* real_ = SystemPackageFiles();
  bool longForm_;
};

// A folder inside the scratch folder whose path is `length` bytes long.
std::string FolderOfLength(const ScratchFolder& scratch, size_t length) {
  std::string folder = scratch.Path();
  while (folder.size() < length) {
    const size_t room = length - folder.size() - 1;  // one for the separator
    folder += "/" + std::string(room > 100 ? 100 : room, room > 100 || room < 2 ? 'd' : 'e');
  }
  std::filesystem::create_directories(folder);
  return folder;
}

TEST(PackageLongPathTest, AnEntryWhoseOwnPathsFitApplies) {
  struct Case {
    const char* what;
    size_t folderLength;  // joseki.dat behind it takes 11 bytes more
    bool longForm;
    int32_t result;
  };
  const Case cases[] = {
      {"joseki.dat at the limit", PlainPathLimit - 11, true, ApplyOk},
      {"joseki.dat at the limit, no long form to be had", PlainPathLimit - 11, false, ApplyCannotCreate},
      {"joseki.dat one byte past the limit", PlainPathLimit - 10, true, ApplyNoOldFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    const std::string folder = FolderOfLength(scratch, c.folderLength);
    ASSERT_EQ(folder.size(), c.folderLength);
    const Snapshot before = {{"joseki.dat", package_test::OneMoveBook(5)}, {"a.txt", Text("present")}};
    for (const auto& [name, bytes] : before) test_support::WriteBytes(folder + "/" + name, bytes);
    Script script = package_test::BookAndFilePackage();
    const Snapshot start = scratch.Take();

    PathLimitFiles files(c.longForm);
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(script, folder, &report, &files), c.result)
        << (report.cause != nullptr ? report.cause : "");
    const Snapshot after = scratch.Take();
    if (c.result != ApplyOk) {
      EXPECT_EQ(after, start);
      continue;
    }
    ScratchFolder reference("-reference");
    for (const auto& [name, bytes] : before) reference.Put(name, bytes);
    ASSERT_EQ(package_test::Apply(script, reference.Path()), ApplyOk);
    const std::string inside = folder.substr(scratch.Path().size() + 1) + "/";
    for (const auto& [name, bytes] : reference.Take()) {
      const auto file = after.find(inside + name);
      ASSERT_NE(file, after.end()) << name;
      EXPECT_EQ(file->second, bytes) << name;
    }
    EXPECT_EQ(after.size(), start.size() + 2);  // joseki.bak and a.bak
  }
}

}  // namespace
