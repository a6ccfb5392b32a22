// A folder held in memory, behind the same file operations that the
// updater's applier uses on a real install folder, so that a package can be
// applied with the updater's own code without touching the disk.
//
// Files are kept under the paths the applier builds for an empty folder
// (EntryPath("", false, name)). Every folder a name mentions counts as
// present. Linked names share one content, as hard links do.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/package_files.h"

class MemoryPackageFiles final : public PackageFiles {
 public:
  // Puts a file under the entry name `name`, replacing any there.
  void Put(const std::string& name, std::vector<uint8_t> bytes);
  // The file under the entry name `name`, or null.
  const std::vector<uint8_t>* Get(const std::string& name) const;
  // Every path that holds a file, in sorted order.
  std::vector<std::string> Paths() const;
  // The path under which the entry name `name` is kept.
  static std::string PathOf(const std::string& name);

  ByteStream* OpenForReading(const char* path) override;
  ByteStream* OpenForWriting(const char* path) override;
  int32_t Commit(ByteStream* file) override;
  int32_t Close(ByteStream* file) override;
  int32_t Rename(const char* from, const char* to) override;
  int32_t Link(const char* present, const char* second) override;
  int32_t Replace(const char* from, const char* to) override;
  int32_t Remove(const char* path) override;
  PathState Exists(const char* path) override;
  // Nothing here is ever read-only.
  bool IsReadOnly(const char* /*path*/) override { return false; }
  int32_t MarkReadOnly(const char* /*path*/, bool /*readOnly*/) override { return 0; }
  FileIdentity Identity(const char* one, const char* other) override;

 private:
  std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> files_;
};
