#include "package/update_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/package_builder.h"

namespace {

using namespace package_test;

// What the run does with a data file: read it, and apply it only when read.
int32_t ReadAndApply(const std::string& dataFile, const std::string& folder) {
  std::vector<uint8_t> script;
  if (ReadUpdatePackage(dataFile.c_str(), &script) != 0) {
    EXPECT_TRUE(script.empty());
    return -1;
  }
  return ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder.c_str());
}

Script FilePackage() {
  Script script;
  script.File("a.bak", "a.txt", Text("new a")).File("b.bak", "b.txt", Text("new b"));
  return script;
}

TEST(ReadUpdatePackageTest, UnpacksTheScript) {
  ScratchFolder folder;
  Script script = FilePackage();
  Bytes file = package_test::DataFile(script.bytes());
  file.insert(file.end(), {1, 2, 3});  // bytes behind the zlib stream are not read
  folder.Put("upda.dat", file);
  std::vector<uint8_t> read;
  EXPECT_EQ(ReadUpdatePackage((folder / "upda.dat").c_str(), &read), 0);
  EXPECT_EQ(read, script.bytes());
}

TEST(ReadUpdatePackageTest, EmptyScript) {
  ScratchFolder folder;
  folder.Put("upda.dat", package_test::DataFile({}));
  std::vector<uint8_t> read = {9};
  EXPECT_EQ(ReadUpdatePackage((folder / "upda.dat").c_str(), &read), 0);
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(ReadAndApply(folder / "upda.dat", folder.Path()), 0);
}

// A damaged data file is never applied, so the folder stays byte for byte.
TEST(ReadUpdatePackageTest, DamagedDataFilesChangeNothing) {
  Script script = FilePackage();
  const Bytes good = package_test::DataFile(script.bytes());
  const Bytes packed(good.begin() + 8, good.end());
  auto withSizes = [&](uint32_t packedSize, uint32_t rawSize, const Bytes& stream) {
    Script file;
    return file.U32(packedSize).U32(rawSize).Raw(stream).bytes();
  };
  Bytes flipped = good;
  flipped[good.size() - 6] ^= 0x55;  // inside the deflate data or its checksum
  Bytes tenMiB(10 << 20, 'x');
  const Bytes bomb = package_test::Compress(tenMiB);

  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"no header", {}},
      {"half a header", {8, 0, 0, 0}},
      {"header only", withSizes(static_cast<uint32_t>(packed.size()), script.size(), {})},
      {"packedSize one beyond the file",
       withSizes(static_cast<uint32_t>(packed.size() + 1), script.size(), packed)},
      {"packedSize 0xFFFFFFFF", withSizes(0xFFFFFFFF, script.size(), packed)},
      {"rawSize one short", withSizes(static_cast<uint32_t>(packed.size()), script.size() - 1, packed)},
      {"rawSize one long", withSizes(static_cast<uint32_t>(packed.size()), script.size() + 1, packed)},
      {"rawSize beyond deflate", withSizes(static_cast<uint32_t>(packed.size()), 1u << 29, packed)},
      {"rawSize beyond the cap", withSizes(0x200000, 0x40000001, Bytes(0x200000))},
      {"packed bytes cut", withSizes(static_cast<uint32_t>(packed.size() - 4), script.size(), packed)},
      {"damaged stream", flipped},
      {"not zlib", withSizes(16, 4, Bytes(16, 0xAB))},
      {"bomb with a small rawSize", withSizes(static_cast<uint32_t>(bomb.size()), 1000, bomb)},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    folder.Put("a.txt", Text("old a"));
    folder.Put("upda.dat", c.file);
    const Snapshot before = folder.Take();
    std::vector<uint8_t> read = {1};
    const char* cause = nullptr;
    EXPECT_EQ(ReadUpdatePackage((folder / "upda.dat").c_str(), &read, &cause), -1) << c.what;
    EXPECT_TRUE(read.empty()) << c.what;
    EXPECT_NE(cause, nullptr) << c.what;
    EXPECT_EQ(ReadAndApply(folder / "upda.dat", folder.Path()), -1) << c.what;
    EXPECT_EQ(folder.Take(), before) << c.what;
  }
}

TEST(ReadUpdatePackageTest, MissingFileFails) {
  ScratchFolder folder;
  std::vector<uint8_t> read;
  EXPECT_EQ(ReadUpdatePackage((folder / "none.dat").c_str(), &read), -1);
  EXPECT_EQ(ReadUpdatePackage(folder.Path().c_str(), &read), -1);  // a folder
}

// Every data file cut short fails, whatever the length.
TEST(ReadUpdatePackageTest, TruncatedAtEveryLength) {
  ScratchFolder folder;
  Script script = FilePackage();
  const Bytes good = package_test::DataFile(script.bytes());
  for (size_t length = 0; length < good.size(); ++length) {
    folder.Put("upda.dat", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
    std::vector<uint8_t> read;
    EXPECT_EQ(ReadUpdatePackage((folder / "upda.dat").c_str(), &read), -1) << length;
  }
  EXPECT_FALSE(folder.Has("a.txt"));
}

}  // namespace
