// What every test that touches the disk shares: whole files read and
// written as bytes, and a scratch folder under the test run's own temporary
// folder (TEST_TMPDIR, as GoogleTest's TempDir gives it), never /tmp itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

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

// Every file under `folder`.
inline Snapshot TakeFolder(const std::string& folder) {
  Snapshot files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    if (!item.is_regular_file()) continue;
    files[std::filesystem::relative(item.path(), folder).generic_string()] = ReadBytes(item.path().string());
  }
  return files;
}

// The names under which two folders differ, each marked extra, differs or
// missing, for a readable failure; empty when they hold the same files.
inline std::string Differences(const Snapshot& got, const Snapshot& wanted) {
  std::string names;
  for (const auto& [name, bytes] : got) {
    const auto other = wanted.find(name);
    if (other == wanted.end()) names += " " + name + " (extra)";
    else if (other->second != bytes) names += " " + name + " (differs)";
  }
  for (const auto& item : wanted) {
    if (got.count(item.first) == 0) names += " " + item.first + " (missing)";
  }
  return names;
}

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

  Snapshot Take() const { return TakeFolder(Path()); }
  // Puts the folder back to exactly the snapshot.
  void Restore(const Snapshot& files) const {
    for (const auto& item : std::filesystem::directory_iterator(path_))
      std::filesystem::remove_all(item.path());
    for (const auto& [name, bytes] : files) Put(name, bytes);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
