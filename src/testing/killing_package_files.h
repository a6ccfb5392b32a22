// The system's package file operations, counted, for tests that end a run at
// a chosen file operation: the process kills itself (SIGKILL, which nothing
// can catch or clean up after) just before its k-th operation would be made,
// so the folder is left exactly as the operations before it left it.
//
// Counted are the operations that open or change anything: opening for
// reading or for writing, commit, close, rename, link, replace, remove and
// marking read-only. Looking at a path (Exists, IsReadOnly, Identity)
// changes nothing and does not count.
#pragma once

#include <signal.h>

#include <cstdint>

#include "package/package_files.h"

class KillingPackageFiles final : public PackageFiles {
 public:
  // killAt: the operation before which the process ends, from 1; 0 for
  // none. Without `links`, Link and Replace answer FilesCannot without being
  // counted, as on a file system that has neither, and the applier takes
  // the way of two renames.
  KillingPackageFiles(int32_t killAt, bool links) : killAt_(killAt), links_(links) {}

  // The operations made so far.
  int32_t count() const { return count_; }

  ByteStream* OpenForReading(const char* path) override {
    Count();
    return real_->OpenForReading(path);
  }
  ByteStream* OpenForWriting(const char* path) override {
    Count();
    return real_->OpenForWriting(path);
  }
  int32_t Commit(ByteStream* file) override {
    Count();
    return real_->Commit(file);
  }
  int32_t Close(ByteStream* file) override {
    Count();
    return real_->Close(file);
  }
  int32_t Rename(const char* from, const char* to) override {
    Count();
    return real_->Rename(from, to);
  }
  int32_t Link(const char* present, const char* second) override {
    if (!links_) return FilesCannot;
    Count();
    return real_->Link(present, second);
  }
  int32_t Replace(const char* from, const char* to) override {
    if (!links_) return FilesCannot;
    Count();
    return real_->Replace(from, to);
  }
  int32_t Remove(const char* path) override {
    Count();
    return real_->Remove(path);
  }
  PathState Exists(const char* path) override { return real_->Exists(path); }
  bool IsReadOnly(const char* path) override { return real_->IsReadOnly(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    Count();
    return real_->MarkReadOnly(path, readOnly);
  }
  FileIdentity Identity(const char* one, const char* other) override { return real_->Identity(one, other); }

 private:
  void Count() {
    if (++count_ == killAt_) raise(SIGKILL);
  }

  PackageFiles* real_ = SystemPackageFiles();
  int32_t killAt_;
  bool links_;
  int32_t count_ = 0;
};
