// The file operations of an install folder, with patience for a file that
// another program holds for a moment. On Windows a virus scanner or the
// search indexer opens a file just written, or about to be replaced, for a
// moment, and a rename, replace or removal then fails although nothing is
// wrong. Each such step refused with FilesInUse is tried again, after
// growing waits of about two seconds in all; a step still refused then
// fails as any other.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "package/package_files.h"

// The waits between the tries of one refused step, in milliseconds; they
// add up to InUseWaitTotal.
constexpr int32_t InUseWaits[] = {20, 40, 80, 160, 300, 400, 500, 500};
constexpr int32_t InUseWaitTotal = 2000;

class PatientPackageFiles final : public PackageFiles {
 public:
  // `files` does the work and the waiting; it outlives this.
  explicit PatientPackageFiles(PackageFiles* files) : files_(files) {}

  ByteStream* OpenForReading(const char* path) override { return files_->OpenForReading(path); }
  ByteStream* OpenForWriting(const char* path) override { return files_->OpenForWriting(path); }
  int32_t Commit(ByteStream* file) override { return files_->Commit(file); }
  int32_t Close(ByteStream* file) override { return files_->Close(file); }
  int32_t Rename(const char* from, const char* to) override {
    return Patiently([&] { return files_->Rename(from, to); });
  }
  int32_t Link(const char* present, const char* second) override {
    return Patiently([&] { return files_->Link(present, second); });
  }
  int32_t Replace(const char* from, const char* to) override {
    return Patiently([&] { return files_->Replace(from, to); });
  }
  int32_t Remove(const char* path) override {
    return Patiently([&] { return files_->Remove(path); });
  }
  PathState Exists(const char* path) override { return files_->Exists(path); }
  bool IsReadOnly(const char* path) override { return files_->IsReadOnly(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override { return files_->MarkReadOnly(path, readOnly); }
  FileIdentity Identity(const char* one, const char* other) override { return files_->Identity(one, other); }
  void Pause(int32_t milliseconds) override { files_->Pause(milliseconds); }
  std::string LongForm(const char* path) override { return files_->LongForm(path); }

 private:
  // The step's last result; errno is the one its last try left.
  template <typename Step>
  int32_t Patiently(Step step) {
    int32_t result = step();
    for (const int32_t wait : InUseWaits) {
      if (result != FilesInUse) break;
      files_->Pause(wait);
      errno = 0;
      result = step();
    }
    return result;
  }

  PackageFiles* files_;
};
