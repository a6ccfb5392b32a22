// Test support for the merge tests: a plain model of a book body, built and
// read byte by byte on its own (independent of the table code), an oracle
// that applies diff records to the model, and helpers for files and lists.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "book/joseki_table.h"
#include "book/parallel_deflate.h"
#include "thread/worker_thread.h"
#include "testing/raw_body.h"
#include "testing/scratch_folder.h"

namespace merge_test {

using Bytes = std::vector<uint8_t>;

inline bool SameMove(const BookMove& a, const BookMove& b) {
  return a.code == b.code && a.aux == b.aux && a.data == b.data;
}

struct ModelNode {
  uint32_t low;
  uint32_t high;
  std::vector<BookMove> moves;
  bool operator==(const ModelNode& o) const {
    return low == o.low && high == o.high && moves.size() == o.moves.size() &&
           std::equal(moves.begin(), moves.end(), o.moves.begin(), SameMove);
  }
};

// A body as stored: nodes in stored order (bucket by bucket, each bucket's
// chain in descending key order).
struct ModelBook {
  uint32_t bucketCount = 0;
  std::vector<ModelNode> nodes;
  bool operator==(const ModelBook& o) const { return bucketCount == o.bucketCount && nodes == o.nodes; }
};

inline std::ostream& operator<<(std::ostream& out, const ModelBook& book) {
  out << "{buckets " << book.bucketCount;
  for (const ModelNode& node : book.nodes) {
    out << " [" << node.low << "," << node.high << ":";
    for (const BookMove& m : node.moves) out << " " << m.code << "/" << m.aux << "/" << m.data;
    out << "]";
  }
  return out << "}";
}

inline uint32_t Bucket(uint32_t bucketCount, uint32_t low, uint32_t high) {
  return (low ^ high) % bucketCount;
}

inline void PutU16(Bytes* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline uint32_t GetU32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Puts the nodes into stored order: by bucket, then descending key; moves by
// code. This is the form a merge writes.
inline ModelBook Canonical(ModelBook book) {
  for (ModelNode& node : book.nodes) {
    std::stable_sort(node.moves.begin(), node.moves.end(),
                     [](const BookMove& a, const BookMove& b) { return a.code < b.code; });
  }
  const uint32_t buckets = book.bucketCount;
  std::stable_sort(book.nodes.begin(), book.nodes.end(), [buckets](const ModelNode& a, const ModelNode& b) {
    const uint32_t ba = Bucket(buckets, a.low, a.high), bb = Bucket(buckets, b.low, b.high);
    if (ba != bb) return ba < bb;
    return (uint64_t{a.high} << 32 | a.low) > (uint64_t{b.high} << 32 | b.low);
  });
  return book;
}

// The raw body of a book whose nodes already stand in stored order.
inline Bytes RawBody(const ModelBook& book) {
  std::vector<std::vector<test_support::Position>> chains(book.bucketCount);
  for (const ModelNode& node : book.nodes) {
    chains[Bucket(book.bucketCount, node.low, node.high)].push_back({{node.low, node.high}, node.moves});
  }
  return test_support::RawBody(chains);
}

// Reads a raw body back, checking every count, index and the exact size.
inline ::testing::AssertionResult ParseRawBody(const Bytes& raw, ModelBook* book) {
  if (raw.size() < 12) return ::testing::AssertionFailure() << "raw body of " << raw.size() << " bytes";
  const uint32_t buckets = GetU32(&raw[0]), nodes = GetU32(&raw[4]), moves = GetU32(&raw[8]);
  const uint64_t want = 12 + 6ull * buckets + 13ull * nodes + 8ull * moves;
  if (raw.size() != want) return ::testing::AssertionFailure() << "size " << raw.size() << " != " << want;
  book->bucketCount = buckets;
  book->nodes.clear();
  size_t at = 12;
  uint32_t nodeSum = 0;
  std::vector<uint32_t> chainLengths;
  for (uint32_t b = 0; b < buckets; ++b, at += 6) {
    if (GetU32(&raw[at]) != nodeSum) return ::testing::AssertionFailure() << "firstNode of bucket " << b;
    chainLengths.push_back(raw[at + 4] | (raw[at + 5] << 8));
    nodeSum += chainLengths.back();
  }
  if (nodeSum != nodes) return ::testing::AssertionFailure() << "bucket counts add up to " << nodeSum;
  uint32_t moveSum = 0;
  for (uint32_t b = 0; b < buckets; ++b) {
    for (uint32_t i = 0; i < chainLengths[b]; ++i, at += 13) {
      ModelNode node{GetU32(&raw[at]), GetU32(&raw[at + 4]), {}};
      if (GetU32(&raw[at + 8]) != moveSum) return ::testing::AssertionFailure() << "firstMove";
      if (Bucket(buckets, node.low, node.high) != b) return ::testing::AssertionFailure() << "wrong bucket";
      node.moves.resize(raw[at + 12]);
      if (node.moves.empty()) return ::testing::AssertionFailure() << "node without moves";
      moveSum += raw[at + 12];
      book->nodes.push_back(node);
    }
  }
  if (moveSum != moves) return ::testing::AssertionFailure() << "node counts add up to " << moveSum;
  for (ModelNode& node : book->nodes) {
    for (BookMove& m : node.moves) {
      m.code = static_cast<uint16_t>(raw[at] | (raw[at + 1] << 8));
      m.aux = static_cast<uint16_t>(raw[at + 2] | (raw[at + 3] << 8));
      m.data = GetU32(&raw[at + 4]);
      at += 8;
    }
  }
  return ::testing::AssertionSuccess();
}

// A whole BookBody block: packedSize, rawSize, zlib stream at `level`.
inline Bytes PackBlock(const Bytes& raw, int level = Z_DEFAULT_COMPRESSION) {
  uLongf packedLength = compressBound(raw.size());
  Bytes block(8 + packedLength);
  EXPECT_EQ(compress2(block.data() + 8, &packedLength, raw.data(), raw.size(), level), Z_OK);
  block.resize(8 + packedLength);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(packedLength >> (8 * i));
  for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(raw.size() >> (8 * i));
  return block;
}

// Unpacks the block at `at`; checks its two counts against the zlib stream.
inline ::testing::AssertionResult UnpackBlock(const Bytes& file, size_t at, Bytes* raw,
                                              uint32_t* blockLength = nullptr) {
  if (file.size() < at + 8) return ::testing::AssertionFailure() << "no block at " << at;
  const uint32_t packed = GetU32(&file[at]), rawSize = GetU32(&file[at + 4]);
  if (file.size() - at - 8 < packed) return ::testing::AssertionFailure() << "block cut short";
  raw->assign(rawSize, 0);
  uLongf length = rawSize;
  if (uncompress(raw->data(), &length, &file[at + 8], packed) != Z_OK || length != rawSize) {
    return ::testing::AssertionFailure() << "block does not unpack to its rawSize";
  }
  if (blockLength) *blockLength = 8 + packed;
  return ::testing::AssertionSuccess();
}

// The oracle: applies records to a book the way the merge must, then puts
// the result in stored order.
struct Record {
  uint32_t low, high;
  BookMove move;
};
inline bool DeletesMove(const BookMove& m) { return m.aux == 0xFFFF && m.data == 0xFFFFFFFF; }
inline ModelBook Apply(const ModelBook& book, const std::vector<Record>& records) {
  std::map<std::pair<uint32_t, uint32_t>, std::vector<BookMove>> positions;
  for (const ModelNode& node : book.nodes) positions[{node.low, node.high}] = node.moves;
  for (const Record& r : records) {
    auto it = positions.find({r.low, r.high});
    if (DeletesMove(r.move)) {
      if (it == positions.end()) continue;
      auto& moves = it->second;
      auto m =
          std::find_if(moves.begin(), moves.end(), [&](const BookMove& x) { return x.code == r.move.code; });
      if (m != moves.end()) moves.erase(m);
      if (moves.empty()) positions.erase(it);
    } else {
      auto& moves = positions[{r.low, r.high}];
      auto m =
          std::find_if(moves.begin(), moves.end(), [&](const BookMove& x) { return x.code == r.move.code; });
      if (m != moves.end()) *m = r.move;
      else moves.push_back(r.move);
    }
  }
  ModelBook out;
  out.bucketCount = book.bucketCount;
  for (auto& [key, moves] : positions) out.nodes.push_back({key.first, key.second, moves});
  return Canonical(out);
}

// Builds a BookDiff list: one group per run of records with the same key.
class DiffList {
 public:
  DiffList& Group(uint32_t low, uint32_t high, const std::vector<BookMove>& moves) {
    PutU32(&bytes_, low);
    PutU32(&bytes_, high);
    bytes_.push_back(static_cast<uint8_t>(moves.size()));
    for (const BookMove& m : moves) {
      PutU16(&bytes_, m.code);
      PutU16(&bytes_, m.aux);
      PutU32(&bytes_, m.data);
      records_.push_back({low, high, m});
    }
    return *this;
  }
  DiffList& End(uint32_t terminator = 0xFFFFFFFF) {
    PutU32(&bytes_, terminator);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }
  const std::vector<Record>& records() const { return records_; }

 private:
  Bytes bytes_;
  std::vector<Record> records_;
};

inline BookMove Put(uint16_t code, uint16_t aux = 0, uint32_t data = 0) { return {code, aux, data}; }
inline BookMove Delete(uint16_t code) { return {code, 0xFFFF, 0xFFFFFFFF}; }

// The threads that the tests' merges are given: 1 unless a ThreadSetting
// lives.
inline int32_t& MergeThreads() {
  static int32_t threads = 1;
  return threads;
}

// While it lives, the tests' merges run on `threads` threads and only the
// next `starts` threads can start (-1: any number).
class ThreadSetting {
 public:
  ThreadSetting(int32_t threads, int32_t starts) {
    MergeThreads() = threads;
    SetWorkerStartLimit(starts);
  }
  ~ThreadSetting() {
    MergeThreads() = 1;
    SetWorkerStartLimit(-1);
  }
};

// The settings a merge must give the same bytes under: the first is the
// reference, the caller's thread alone.
struct ThreadCase {
  const char* what;
  int32_t threads;
  int32_t starts;
};
inline std::vector<ThreadCase> ThreadCases() {
  return {{"1 thread", 1, -1},
          {"2 threads", 2, -1},
          {"3 threads", 3, -1},
          {"8 threads", 8, -1},
          {"8 threads, none can start", 8, 0},
          {"8 threads, one can start", 8, 1}};
}

inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "merge_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
         "_" + name;
}

using test_support::ReadBytes;
using test_support::WriteBytes;

}  // namespace merge_test
