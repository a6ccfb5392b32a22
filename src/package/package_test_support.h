// Helpers for the package tests: a scratch folder on the real disk, snapshots
// of a folder's files, and a builder of package scripts and data files.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "package/update_package.h"

namespace package_test {

using Bytes = std::vector<uint8_t>;
// Every file under a folder: its path relative to the folder, with '/'.
using Snapshot = std::map<std::string, Bytes>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fresh, empty folder named after the running test; removed at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag = "") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("pkg_") + info->test_suite_name() + "_" + info->name() + tag;
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  void Put(const std::string& name, const Bytes& bytes) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    WriteBytes(*this / name, bytes);
  }
  Bytes Get(const std::string& name) const { return ReadBytes(*this / name); }
  bool Has(const std::string& name) const { return std::filesystem::exists(path_ / name); }

  Snapshot Take() const {
    Snapshot files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(path_)) {
      if (!item.is_regular_file()) continue;
      files[std::filesystem::relative(item.path(), path_).generic_string()] = ReadBytes(item.path().string());
    }
    return files;
  }
  // Puts the folder back to exactly the snapshot.
  void Restore(const Snapshot& files) const {
    for (const auto& item : std::filesystem::directory_iterator(path_)) std::filesystem::remove_all(item.path());
    for (const auto& [name, bytes] : files) Put(name, bytes);
  }

 private:
  std::filesystem::path path_;
};

// Builds a package script byte by byte.
class Script {
 public:
  Script& U8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  Script& U32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
    return *this;
  }
  Script& Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // A name with its length byte, which counts the NUL.
  Script& Name(const std::string& name) {
    U8(static_cast<uint8_t>(name.size() + 1));
    Raw(Text(name));
    return U8(0);
  }
  Script& Head(uint32_t kind, const std::string& oldName, const std::string& newName) {
    return U32(kind).Name(oldName).Name(newName);
  }
  Script& File(const std::string& oldName, const std::string& newName, const Bytes& content) {
    Head(KindFile, oldName, newName).U32(static_cast<uint32_t>(content.size()));
    return Raw(content);
  }

  Bytes& bytes() { return bytes_; }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

 private:
  Bytes bytes_;
};

// A zlib stream of the bytes, as zlib's compress makes it.
inline Bytes Compress(const Bytes& raw) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(length);
  EXPECT_EQ(compress(packed.data(), &length, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
  packed.resize(length);
  return packed;
}

// An update data file around the script: packedSize, rawSize, zlib stream.
inline Bytes DataFile(const Bytes& script) {
  const Bytes packed = Compress(script);
  Script file;
  file.U32(static_cast<uint32_t>(packed.size())).U32(static_cast<uint32_t>(script.size())).Raw(packed);
  return file.bytes();
}

// Applies a script held in a copy, as the run does.
inline int32_t Apply(Script& script, const std::string& folder, ApplyReport* report = nullptr,
                     PackageFiles* files = nullptr) {
  Bytes copy = script.bytes();
  return ApplyPackage(copy.data(), static_cast<uint32_t>(copy.size()), folder.c_str(), report, files);
}

}  // namespace package_test
