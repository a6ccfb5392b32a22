// Fault injection: the k-th file operation of an application fails, for every
// k up to the last one a clean application makes. Whatever fails, the folder
// must hold exactly what it held after some number of complete entries, with
// no temporary file left over, and the result must say that it failed. Each
// case runs twice: with links and the replacing rename, and without them, as
// on a platform or file system that has neither.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "package/entry_path.h"
#include "package/package_files.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

enum Operation { OpOpen, OpRead, OpWrite, OpFlush, OpClose, OpRename, OpRemove, OpLink, OpReplace };

class FaultyFiles;

// A file stream whose reads and writes count as operations. Like a stdio
// stream, it remembers a failure, and its flush and close report it.
class FaultyStream final : public ByteStream {
 public:
  FaultyStream(ByteStream* inner, FaultyFiles* files) : inner_(inner), files_(files) {}

  int32_t AtEnd() override { return inner_->AtEnd(); }
  int32_t Seek(int32_t offset, bool fromEnd) override { return inner_->Seek(offset, fromEnd); }
  int32_t Tell() override { return inner_->Tell(); }
  int32_t ReadU8() override { return Fails(OpRead) ? -1 : inner_->ReadU8(); }
  int32_t ReadU16() override { return Fails(OpRead) ? -1 : inner_->ReadU16(); }
  int32_t ReadU32() override { return Fails(OpRead) ? -1 : inner_->ReadU32(); }
  int32_t Read(uint8_t* destination, int32_t length) override {
    return Fails(OpRead) ? -1 : inner_->Read(destination, length);
  }
  int32_t WriteU8(int32_t value) override { return Fails(OpWrite) ? -1 : inner_->WriteU8(value); }
  int32_t WriteU16(int32_t value) override { return Fails(OpWrite) ? -1 : inner_->WriteU16(value); }
  int32_t WriteU32(uint32_t value) override { return Fails(OpWrite) ? -1 : inner_->WriteU32(value); }
  int32_t Write(const uint8_t* source, int32_t length) override {
    return Fails(OpWrite) ? -1 : inner_->Write(source, length);
  }

  ByteStream* inner() { return inner_; }
  bool broken = false;

 private:
  ~FaultyStream() override { inner_->Release(true); }
  bool Fails(Operation operation);

  ByteStream* inner_;
  FaultyFiles* files_;
};

class FaultyFiles final : public PackageFiles {
 public:
  // failAt: the number of the operation that fails, from 1; 0 fails none.
  // Without `links`, Link and Replace answer FilesCannot.
  FaultyFiles(int failAt, bool links) : failAt_(failAt), links_(links) {}

  int count() const { return count_; }
  bool hit() const { return count_ >= failAt_ && failAt_ > 0; }
  Operation failed() const { return failed_; }

  // The failed operation leaves its error number in errno, as the system's
  // calls do: a write, flush or close finds the disk full, the others find
  // the file busy.
  bool Fails(Operation operation) {
    if (++count_ != failAt_) return false;
    failed_ = operation;
    errno = ErrorOf(operation);
    return true;
  }
  static int ErrorOf(Operation operation) {
    return operation == OpWrite || operation == OpFlush || operation == OpClose ? ENOSPC : EBUSY;
  }

  ByteStream* OpenForReading(const char* path) override {
    if (Fails(OpOpen)) return nullptr;
    return Wrap(real_->OpenForReading(path));
  }
  ByteStream* OpenForWriting(const char* path) override {
    if (Fails(OpOpen)) return nullptr;
    return Wrap(real_->OpenForWriting(path));
  }
  int32_t Commit(ByteStream* file) override {
    auto* stream = static_cast<FaultyStream*>(file);
    if (Fails(OpFlush)) stream->broken = true;
    const int32_t committed = real_->Commit(stream->inner());
    return stream->broken ? -1 : committed;
  }
  int32_t Close(ByteStream* file) override {
    auto* stream = static_cast<FaultyStream*>(file);
    if (Fails(OpClose)) stream->broken = true;
    const int32_t closed = real_->Close(stream->inner());
    return stream->broken ? -1 : closed;
  }
  int32_t Rename(const char* from, const char* to) override {
    return Fails(OpRename) ? -1 : real_->Rename(from, to);
  }
  int32_t Link(const char* present, const char* second) override {
    if (!links_) return FilesCannot;
    return Fails(OpLink) ? -1 : real_->Link(present, second);
  }
  int32_t Replace(const char* from, const char* to) override {
    if (!links_) return FilesCannot;
    return Fails(OpReplace) ? -1 : real_->Replace(from, to);
  }
  int32_t Remove(const char* path) override { return Fails(OpRemove) ? -1 : real_->Remove(path); }
  PathState Exists(const char* path) override { return real_->Exists(path); }
  bool IsReadOnly(const char* path) override { return real_->IsReadOnly(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    return real_->MarkReadOnly(path, readOnly);
  }
  FileIdentity Identity(const char* one, const char* other) override { return real_->Identity(one, other); }

 private:
  ByteStream* Wrap(ByteStream* inner) { return inner != nullptr ? new FaultyStream(inner, this) : nullptr; }

  PackageFiles* real_ = SystemPackageFiles();
  int failAt_;
  bool links_;
  int count_ = 0;
  Operation failed_ = OpOpen;
};

bool FaultyStream::Fails(Operation operation) {
  if (!files_->Fails(operation)) return false;
  broken = true;
  return true;
}

// Runs the package once for every k and checks each outcome.
void FailEveryOperation(const std::vector<Script>& entries, const Snapshot& start, bool links,
                        const std::set<Operation>& kinds) {
  SCOPED_TRACE(links ? "with links" : "without links");
  ScratchFolder folder;
  std::vector<Snapshot> states;  // states[j]: after the first j entries
  for (size_t j = 0; j <= entries.size(); ++j) {
    folder.Restore(start);
    Script prefix = Concatenate(entries, j);
    ASSERT_EQ(package_test::Apply(prefix, folder.Path()), ApplyOk);
    states.push_back(folder.Take());
  }
  ASSERT_NE(states.front(), states.back());

  Script script = Concatenate(entries, entries.size());
  folder.Restore(start);
  FaultyFiles counter(0, links);
  ASSERT_EQ(package_test::Apply(script, folder.Path(), nullptr, &counter), ApplyOk);
  ASSERT_EQ(folder.Take(), states.back());

  std::set<Operation> failedKinds;
  for (int k = 1; k <= counter.count(); ++k) {
    folder.Restore(start);
    FaultyFiles files(k, links);
    ApplyReport report;
    const int32_t result = package_test::Apply(script, folder.Path(), &report, &files);
    ASSERT_TRUE(files.hit()) << "operation " << k;
    failedKinds.insert(files.failed());
    EXPECT_NE(result, ApplyOk) << "operation " << k << " (kind " << files.failed() << ")";
    // The report names the system's error of the very operation that failed.
    EXPECT_EQ(report.systemError, FaultyFiles::ErrorOf(files.failed()))
        << "operation " << k << " (kind " << files.failed() << "): " << report.cause;
    ASSERT_LT(report.entriesApplied, static_cast<int32_t>(entries.size()));
    const Snapshot after = folder.Take();
    for (const auto& file : after) {
      EXPECT_FALSE(IsPackageTempName(file.first.c_str())) << file.first << " left after operation " << k;
    }
    EXPECT_EQ(after, states[report.entriesApplied]) << "operation " << k << " (kind " << files.failed()
                                                    << ") failed in entry " << report.entriesApplied + 1;
  }
  EXPECT_EQ(failedKinds, kinds);
}

TEST(PackageFaultTest, FirstApplication) {
  FailEveryOperation(EveryKindEntries(), EveryKindInstall(), true,
                     {OpOpen, OpRead, OpWrite, OpFlush, OpClose, OpLink, OpReplace});
  FailEveryOperation(EveryKindEntries(), EveryKindInstall(), false,
                     {OpOpen, OpRead, OpWrite, OpFlush, OpClose, OpRename});
}

// Applied over the result of a first application, every entry finds its old
// name taken and replaces the present file, which takes more steps.
TEST(PackageFaultTest, SecondApplication) {
  ScratchFolder folder("_first");
  folder.Restore(EveryKindInstall());
  Script script = Concatenate(EveryKindEntries(), 3);
  ASSERT_EQ(package_test::Apply(script, folder.Path()), ApplyOk);
  Snapshot applied = folder.Take();
  applied["a.txt"].push_back('!');  // so that rewriting it shows
  FailEveryOperation(EveryKindEntries(), applied, true,
                     {OpOpen, OpRead, OpWrite, OpFlush, OpClose, OpReplace});
  FailEveryOperation(EveryKindEntries(), applied, false,
                     {OpOpen, OpRead, OpWrite, OpFlush, OpClose, OpRename, OpRemove});
}

}  // namespace
