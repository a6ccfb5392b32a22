// Product files that another program holds, as Windows refuses them. The
// applier runs over the real files of a scratch folder, behind a layer that
// answers as Windows does for a file in use, whichever of its names is
// used (a rename or a link carries the state along):
// - a virus scanner or the indexer holds a file open, without letting it be
//   deleted, for its next few tries: a rename, replace or removal of it
//   fails with a sharing violation until then;
// - a program runs from a file: it may be renamed and linked, but neither
//   replaced nor removed under any of its names while the program runs.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "package/entry_path.h"
#include "package/package_files.h"
#include "package/patient_package_files.h"
#include "package/update_package.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

constexpr int32_t Forever = 1 << 30;

class InUseFiles final : public PackageFiles {
 public:
  struct Use {
    int32_t heldTries = 0;  // refusals the scanner still makes
    bool running = false;
  };
  // The file under `name` is held for its next `tries` refused steps.
  void Hold(const std::string& name, int32_t tries) { UseOf(name)->heldTries = tries; }
  void Run(const std::string& name) { UseOf(name)->running = true; }
  void EndPrograms() {
    for (auto& [name, use] : uses_) use->running = false;
  }
  int32_t Paused() const { return paused_; }

  ByteStream* OpenForReading(const char* path) override { return real_->OpenForReading(path); }
  ByteStream* OpenForWriting(const char* path) override { return real_->OpenForWriting(path); }
  int32_t Commit(ByteStream* file) override { return real_->Commit(file); }
  int32_t Close(ByteStream* file) override { return real_->Close(file); }
  int32_t Rename(const char* from, const char* to) override {
    if (Held(from)) return FilesInUse;
    const int32_t renamed = real_->Rename(from, to);
    if (renamed == 0) Move(from, to);
    return renamed;
  }
  int32_t Link(const char* present, const char* second) override {
    const int32_t linked = real_->Link(present, second);
    const auto use = uses_.find(NameOf(present));
    if (linked == 0 && use != uses_.end()) uses_[NameOf(second)] = use->second;
    return linked;
  }
  // MoveFileExA replacing: the file replaced loses its name, which a running
  // program's file refuses.
  int32_t Replace(const char* from, const char* to) override {
    if (Held(from) || Held(to) || Running(to)) return FilesInUse;
    const int32_t replaced = real_->Replace(from, to);
    if (replaced == 0) Move(from, to);
    return replaced;
  }
  int32_t Remove(const char* path) override {
    if (Held(path) || Running(path)) return FilesInUse;
    const int32_t removed = real_->Remove(path);
    if (removed == 0) uses_.erase(NameOf(path));
    return removed;
  }
  PathState Exists(const char* path) override { return real_->Exists(path); }
  bool IsReadOnly(const char* path) override { return real_->IsReadOnly(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override { return real_->MarkReadOnly(path, readOnly); }
  FileIdentity Identity(const char* one, const char* other) override { return real_->Identity(one, other); }
  void Pause(int32_t milliseconds) override { paused_ += milliseconds; }

 private:
  std::shared_ptr<Use>& UseOf(const std::string& name) {
    auto& use = uses_[name];
    if (!use) use = std::make_shared<Use>();
    return use;
  }
  bool Held(const char* path) {
    const auto use = uses_.find(NameOf(path));
    if (use == uses_.end() || use->second->heldTries <= 0) return false;
    --use->second->heldTries;
    return true;
  }
  bool Running(const char* path) const {
    const auto use = uses_.find(NameOf(path));
    return use != uses_.end() && use->second->running;
  }
  void Move(const char* from, const char* to) {
    const auto use = uses_.find(NameOf(from));
    if (use == uses_.end()) {
      uses_.erase(NameOf(to));
      return;
    }
    uses_[NameOf(to)] = use->second;
    uses_.erase(use);
  }

  PackageFiles* real_ = SystemPackageFiles();
  std::map<std::string, std::shared_ptr<Use>> uses_;
  int32_t paused_ = 0;
};

const Snapshot Present = {{"joseki.dat", package_test::OneMoveBook(5)}, {"a.txt", Text("present")}};

// A scanner that lets go within the waits costs the update nothing; one that
// never lets go fails the entry with the product file as it was and no
// temporary file left, after about two seconds for each refused step.
TEST(PackageInUseTest, AFileHeldForAMomentIsWaitedFor) {
  struct Case {
    const char* held;
    std::string name;
    int32_t tries;
    int32_t result;
  };
  const Case cases[] = {
      {"the book, for three tries", "joseki.dat", 3, ApplyOk},
      {"the new book just written, for six tries", TempEntryName("joseki.dat", false), 6, ApplyOk},
      {"the readme, for as many tries as there are waits", "a.txt", static_cast<int32_t>(std::size(InUseWaits)),
       ApplyOk},
      {"the book, for good", "joseki.dat", Forever, ApplyWriteFailed},
  };
  ScratchFolder folder;
  folder.Restore(Present);
  Script script = package_test::BookAndFilePackage();
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  const Snapshot ordinary = folder.Take();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    folder.Restore(Present);
    InUseFiles files;
    files.Hold(c.name, c.tries);
    ApplyReport report;
    EXPECT_EQ(package_test::Apply(script, folder.Path(), &report, &files), c.result);
    Snapshot after = folder.Take();
    if (c.result == ApplyOk) {
      EXPECT_EQ(after, ordinary);
      EXPECT_GT(files.Paused(), 0);
      EXPECT_LE(files.Paused(), InUseWaitTotal);
      continue;
    }
    EXPECT_EQ(after.at("joseki.dat"), Present.at("joseki.dat"));
    EXPECT_EQ(after.at("a.txt"), Present.at("a.txt"));
    after.erase("joseki.bak");  // if kept, a second name of the very same file
    EXPECT_EQ(after, Present);
    EXPECT_GE(files.Paused(), InUseWaitTotal);
    EXPECT_LE(files.Paused(), 3 * InUseWaitTotal);
  }
}

// A product still running: its executable is kept under the old name and
// the new one takes its name, as the system's own rename-then-create does.
// The running file's third name, which cannot go while it runs, goes with
// the next run after the program has ended; a run while it still runs
// leaves it and succeeds.
TEST(PackageInUseTest, ARunningProgramsFileIsKeptUnderItsOldName) {
  const Snapshot present = {{"BantokiA.exe", Text("release 1")}};
  Script script;
  script.File("BantokiA.old", "BantokiA.exe", Text("release 2"));
  const std::string kept = TempEntryName("BantokiA.exe", true);
  ScratchFolder folder;
  folder.Restore(present);
  InUseFiles files;
  files.Run("BantokiA.exe");

  ApplyReport report;
  ASSERT_EQ(package_test::Apply(script, folder.Path(), &report, &files), ApplyOk)
      << (report.cause != nullptr ? report.cause : "");
  Snapshot after = folder.Take();
  EXPECT_EQ(after["BantokiA.exe"], Text("release 2"));
  EXPECT_EQ(after["BantokiA.old"], Text("release 1"));
  const Snapshot settled = {{"BantokiA.exe", Text("release 2")}, {"BantokiA.old", Text("release 1")}};
  if (after.count(kept) != 0) {
    EXPECT_EQ(after[kept], Text("release 1"));
    after.erase(kept);
  }
  EXPECT_EQ(after, settled);

  ASSERT_EQ(package_test::Apply(script, folder.Path(), &report, &files), ApplyOk)
      << (report.cause != nullptr ? report.cause : "");
  files.EndPrograms();
  ASSERT_EQ(package_test::Apply(script, folder.Path(), &report, &files), ApplyOk);
  EXPECT_EQ(folder.Take(), settled);
}

}  // namespace
