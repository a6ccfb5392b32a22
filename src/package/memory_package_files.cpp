#include "package/memory_package_files.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "package/entry_path.h"
#include "stream/byte_stream.h"

namespace {

// A stream over a file of the memory folder. It behaves as a stdio file
// stream does where the merges rely on it: a seek may pass the end, a
// write there fills the gap with zeros, and the bytes missing from an
// integer read count as 0xFF.
class FileInMemory final : public ByteStream {
 public:
  FileInMemory(std::shared_ptr<std::vector<uint8_t>> bytes, bool forReading)
      : bytes_(std::move(bytes)), forReading_(forReading) {}

  int32_t AtEnd() override { return position_ >= bytes_->size() ? 1 : 0; }
  int32_t Seek(int32_t offset, bool fromEnd) override {
    const int64_t target = (fromEnd ? static_cast<int64_t>(bytes_->size()) : 0) + offset;
    if (target < 0) return -1;
    position_ = static_cast<size_t>(target);
    return 0;
  }
  int32_t Tell() override { return static_cast<int32_t>(position_); }
  int32_t ReadU8() override {
    if (!forReading_ || position_ >= bytes_->size()) return -1;
    return (*bytes_)[position_++];
  }
  int32_t ReadU16() override { return ReadBytes(2); }
  int32_t ReadU32() override { return ReadBytes(4); }
  int32_t Read(uint8_t* destination, int32_t length) override {
    if (!forReading_) return -1;
    if (length <= 0 || position_ >= bytes_->size()) return 0;
    const size_t count = std::min(static_cast<size_t>(length), bytes_->size() - position_);
    memcpy(destination, bytes_->data() + position_, count);
    position_ += count;
    return static_cast<int32_t>(count);
  }
  int32_t WriteU8(int32_t value) override { return WriteBytes(static_cast<uint32_t>(value), 1); }
  int32_t WriteU16(int32_t value) override { return WriteBytes(static_cast<uint32_t>(value), 2); }
  int32_t WriteU32(uint32_t value) override { return WriteBytes(value, 4); }
  int32_t Write(const uint8_t* source, int32_t length) override {
    if (forReading_) return -1;
    if (length <= 0) return 0;
    if (!Reach(position_ + static_cast<size_t>(length))) return -1;
    memcpy(bytes_->data() + position_, source, static_cast<size_t>(length));
    position_ += static_cast<size_t>(length);
    return length;
  }

 private:
  ~FileInMemory() override = default;

  int32_t ReadBytes(int count) {
    if (!forReading_) return -1;
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      const uint32_t byte = position_ < bytes_->size() ? (*bytes_)[position_++] : 0xFF;
      value |= byte << (8 * i);
    }
    return static_cast<int32_t>(value);
  }

  int32_t WriteBytes(uint32_t value, int count) {
    if (forReading_ || !Reach(position_ + static_cast<size_t>(count))) return -1;
    for (int i = 0; i < count; ++i) (*bytes_)[position_++] = static_cast<uint8_t>(value >> (8 * i));
    return 0;
  }

  bool Reach(size_t end) {
    if (end <= bytes_->size()) return true;
    try {
      bytes_->resize(end, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  std::shared_ptr<std::vector<uint8_t>> bytes_;
  bool forReading_;
  size_t position_ = 0;
};

}  // namespace

std::string MemoryPackageFiles::PathOf(const std::string& name) { return EntryPath("", false, name.c_str()); }

void MemoryPackageFiles::Put(const std::string& name, std::vector<uint8_t> bytes) {
  files_[PathOf(name)] = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
}

const std::vector<uint8_t>* MemoryPackageFiles::Get(const std::string& name) const {
  auto found = files_.find(PathOf(name));
  return found == files_.end() ? nullptr : found->second.get();
}

std::vector<std::string> MemoryPackageFiles::Paths() const {
  std::vector<std::string> paths;
  for (const auto& file : files_) paths.push_back(file.first);
  return paths;
}

ByteStream* MemoryPackageFiles::OpenForReading(const char* path) {
  auto found = files_.find(path);
  if (found == files_.end()) return nullptr;
  return new (std::nothrow) FileInMemory(found->second, true);
}

ByteStream* MemoryPackageFiles::OpenForWriting(const char* path) {
  // As on the disk, the file is made afresh and never over another.
  if (Exists(path) != PathAbsent) return nullptr;
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  files_[path] = bytes;
  return new (std::nothrow) FileInMemory(std::move(bytes), false);
}

int32_t MemoryPackageFiles::Commit(ByteStream*) { return 0; }

int32_t MemoryPackageFiles::Close(ByteStream*) { return 0; }

int32_t MemoryPackageFiles::Rename(const char* from, const char* to) {
  auto found = files_.find(from);
  if (found == files_.end() || Exists(to) != PathAbsent) return -1;
  auto bytes = found->second;
  files_.erase(found);
  files_[to] = std::move(bytes);
  return 0;
}

int32_t MemoryPackageFiles::Link(const char* present, const char* second) {
  auto found = files_.find(present);
  if (found == files_.end() || Exists(second) != PathAbsent) return -1;
  auto bytes = found->second;
  files_[second] = std::move(bytes);
  return 0;
}

int32_t MemoryPackageFiles::Replace(const char* from, const char* to) {
  auto found = files_.find(from);
  if (found == files_.end() || Exists(to) == PathOther) return -1;
  // Between two names of one file a rename does nothing, as rename(2) does:
  // both names stay.
  auto target = files_.find(to);
  if (target != files_.end() && target->second == found->second) return 0;
  auto bytes = found->second;
  files_.erase(found);
  files_[to] = std::move(bytes);
  return 0;
}

int32_t MemoryPackageFiles::Remove(const char* path) { return files_.erase(path) != 0 ? 0 : -1; }

PathState MemoryPackageFiles::Exists(const char* path) {
  if (files_.count(path) != 0) return PathFile;
  // A path under which files are kept is a folder.
  for (const char* separator : {"/", "\\"}) {
    const std::string prefix = std::string(path) + separator;
    auto after = files_.lower_bound(prefix);
    if (after != files_.end() && after->first.compare(0, prefix.size(), prefix) == 0) return PathOther;
  }
  return PathAbsent;
}

FileIdentity MemoryPackageFiles::Identity(const char* one, const char* other) {
  auto first = files_.find(one);
  auto second = files_.find(other);
  if (first == files_.end() || second == files_.end() || first->second != second->second) return FilesApart;
  return first == second ? FilesOneName : FilesLinked;
}
