// Helpers for the package tests: a scratch folder on the real disk, snapshots
// of a folder's files, and a builder of package scripts and data files.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "book/book_body.h"
#include "book/joseki_table.h"
#include "package/update_package.h"
#include "testing/raw_body.h"
#include "testing/scratch_folder.h"

namespace package_test {

// The package tests name these and test_support's helpers with one
// `using namespace package_test;`.
using namespace test_support;

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
  // One BookDiff group that puts a move, or deletes it when `remove`.
  Script& Group(uint32_t low, uint32_t high, uint16_t code, bool remove = false) {
    U32(low).U32(high).U8(1).U8(code & 0xFF).U8(code >> 8);
    return remove ? U8(0xFF).U8(0xFF).U32(0xFFFFFFFF) : U8(1).U8(0).U32(7);
  }
  Script& File(const std::string& oldName, const std::string& newName, const Bytes& content) {
    Head(KindFile, oldName, newName).U32(static_cast<uint32_t>(content.size()));
    return Raw(content);
  }

  Bytes& bytes() { return bytes_; }
  const Bytes& bytes() const { return bytes_; }
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

// The raw body of a one-bucket table holding the positions, its chain in
// descending key order as the table keeps it.
inline Bytes RawBook(std::vector<test_support::Position> positions) {
  std::sort(positions.begin(), positions.end(),
            [](const test_support::Position& a, const test_support::Position& b) {
              return (uint64_t(a.key.high) << 32 | a.key.low) > (uint64_t(b.key.high) << 32 | b.key.low);
            });
  return test_support::RawBody({positions});
}

// A BookBody: packedSize, rawSize, zlib stream.
inline Bytes BookBlock(const Bytes& raw) { return DataFile(raw); }

// A single opening-book file with the given 8 bytes in front.
inline Bytes BookFile(const Bytes& raw, const Bytes& magic = Text(std::string("JoSeKi5\0", 8))) {
  Bytes file = magic;
  const Bytes block = BookBlock(raw);
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

// A single book of one position, 0x40, holding one move of the given code.
inline Bytes OneMoveBook(uint16_t code) { return BookFile(RawBook({{{0x40, 0}, {{code, 0, 0}}}})); }

// A package that puts move 9 into joseki.dat (keeping it as joseki.bak) and
// writes a.txt afresh (keeping it as a.bak).
inline Script BookAndFilePackage() {
  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat").Group(0x40, 0, 9).U32(0xFFFFFFFF);
  script.File("a.bak", "a.txt", Text("new"));
  return script;
}

// A divided opening-book file whose division k holds raws[k].
inline Bytes DividedFile(const std::vector<Bytes>& raws) {
  Script file;
  file.Raw(Text(std::string("JSKDIV1\0", 8)));
  std::vector<Bytes> blocks;
  uint32_t offset = 264;
  for (const Bytes& raw : raws) {
    blocks.push_back(BookBlock(raw));
    while (blocks.back().size() % 4 != 0) blocks.back().push_back(0);
    file.U32(offset);
    offset += static_cast<uint32_t>(blocks.back().size());
  }
  for (const Bytes& block : blocks) file.Raw(block);
  return file.bytes();
}

// The first `count` entries as one script.
inline Script Concatenate(const std::vector<Script>& entries, size_t count) {
  Script script;
  for (size_t i = 0; i < count; ++i) script.Raw(entries[i].bytes());
  return script;
}

// Entries of all three kinds: a book, a divided book in a subfolder and a
// file that replaces a present one.
inline std::vector<Script> EveryKindEntries() {
  constexpr uint32_t Terminator = 0xFFFFFFFF;
  std::vector<Script> entries(3);
  entries[0]
      .Head(KindBook, "joseki.bak", "joseki.dat")
      .Group(0x40, 0, 9)
      .Group(0x41, 1, 5, true)
      .U32(Terminator);
  entries[1].Head(KindDividedBook, "book\\div.bak", "book\\div.dat").U32(0);
  for (uint32_t k = 0; k < 64; ++k) {
    if (k % 16 == 3) entries[1].Group(0x100 + k, k, 2);
    entries[1].U32(Terminator);
  }
  entries[2].File("a.bak", "a.txt", Text("a new, longer than before"));
  return entries;
}

// The install folder those entries are applied to: both books, the file to
// be replaced and one the package does not name.
inline Snapshot EveryKindInstall() {
  std::vector<Bytes> divisions;
  for (uint32_t k = 0; k < 64; ++k) divisions.push_back(RawBook({{{0x100 + k, k}, {{5, 0, 0}}}}));
  return {{"joseki.dat", BookFile(RawBook({{{0x40, 0}, {{5, 1, 7}}}, {{0x41, 1}, {{5, 0, 0}, {6, 0, 0}}}}))},
          {"book/div.dat", DividedFile(divisions)},
          {"a.txt", Text("a old")},
          {"other.txt", Text("not in the package")}};
}

// Reads the BookBody at `offset` of a book file back into a table, or null.
inline JosekiTablePtr LoadBlock(const Bytes& file, size_t offset) {
  if (offset + 8 > file.size()) return nullptr;
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                 uint32_t(file[at + 3]) << 24);
  };
  const uint32_t packedSize = u32(offset);
  uLongf rawSize = u32(offset + 4);
  if (offset + 8 + packedSize > file.size()) return nullptr;
  Bytes raw(rawSize);
  if (uncompress(raw.data(), &rawSize, file.data() + offset + 8, packedSize) != Z_OK) return nullptr;
  return JosekiTablePtr(LoadJosekiTable(raw.data(), static_cast<uint32_t>(rawSize)));
}

// The move codes of a position in a table, in stored order.
inline std::vector<uint16_t> Codes(const JosekiTable* table, uint32_t low, uint32_t high) {
  std::vector<uint16_t> codes;
  if (table == nullptr) return codes;
  for (int32_t bucket = 0; bucket < table->bucketCount; ++bucket) {
    for (const JosekiNode* node = table->buckets[bucket]; node != nullptr; node = node->next) {
      if (node->key.low != low || node->key.high != high) continue;
      for (int32_t i = 0; i < node->moveCount; ++i) codes.push_back(node->moves[i].code);
    }
  }
  return codes;
}

// Applies a script held in a copy, as the run does.
inline int32_t Apply(Script& script, const std::string& folder, ApplyReport* report = nullptr,
                     PackageFiles* files = nullptr) {
  Bytes copy = script.bytes();
  return ApplyPackage(copy.data(), static_cast<uint32_t>(copy.size()), folder.c_str(), report, files);
}

}  // namespace package_test
