#include "fuzz/fuzz_support.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "book/book_body.h"
#include "book/book_format.h"

namespace fuzz {

namespace {

void AbortOnFailure(const char* what) {
  fprintf(stderr, "fuzz check failed: %s\n", what);
  abort();
}

FailureHandler failureHandler = AbortOnFailure;

}  // namespace

void SetFailureHandler(FailureHandler handler) {
  failureHandler = handler != nullptr ? handler : AbortOnFailure;
}

void Fail(const char* what) { failureHandler(what); }

uint32_t TakeU16(const uint8_t** data, size_t* size) {
  if (*size < 2) return 0;
  const uint32_t value = (*data)[0] | ((*data)[1] << 8);
  *data += 2;
  *size -= 2;
  return value;
}

uint32_t TakeU32(const uint8_t** data, size_t* size) {
  if (*size < 4) return 0;
  const uint32_t value = GetU32(*data);
  *data += 4;
  *size -= 4;
  return value;
}

void PutU32(Bytes* bytes, uint32_t value) { AppendU32(bytes, value); }

uint32_t GetU32(const uint8_t* p) { return LoadU32(p); }

Bytes PackBody(const uint8_t* raw, size_t size) {
  // A small window and little state: the targets pack many small bodies, and
  // zlib's default 256 KB of state per stream would dominate each run.
  z_stream z = {};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 9, 1, Z_DEFAULT_STRATEGY) != Z_OK) return Bytes();
  Bytes body(8 + deflateBound(&z, static_cast<uLong>(size)));
  static uint8_t none = 0;
  z.next_in = const_cast<uint8_t*>(size > 0 ? raw : &none);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = body.data() + 8;
  z.avail_out = static_cast<uInt>(body.size() - 8);
  const int status = deflate(&z, Z_FINISH);
  const uLong length = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) return Bytes();
  body.resize(8 + length);
  Bytes counts;
  PutU32(&counts, static_cast<uint32_t>(length));
  PutU32(&counts, static_cast<uint32_t>(size));
  memcpy(body.data(), counts.data(), 8);
  return body;
}

JosekiTablePtr LoadBody(const Bytes& file, size_t offset, size_t* end) {
  if (offset > file.size() || file.size() - offset < 8) return nullptr;
  const uint32_t packedSize = GetU32(file.data() + offset);
  const uint32_t rawSize = GetU32(file.data() + offset + 4);
  if (packedSize > file.size() - offset - 8) return nullptr;
  if (rawSize > 64u << 20) return nullptr;  // more than any target makes
  Bytes raw(rawSize);
  uLongf produced = rawSize;
  if (uncompress(raw.data(), &produced, file.data() + offset + 8, packedSize) != Z_OK ||
      produced != rawSize) {
    return nullptr;
  }
  if (end != nullptr) *end = offset + 8 + packedSize;
  return JosekiTablePtr(LoadJosekiTable(raw.data(), rawSize));
}

bool SharesCostlyBlocks(const Bytes& held, uint64_t budget) {
  constexpr size_t Table = 8, Divisions = 64;
  if (held.size() < Table + 4 * Divisions) return false;
  std::vector<std::pair<uint64_t, uint64_t>> blocks;  // each division's first byte and end
  uint64_t claimed = 0;
  for (size_t k = 0; k < Divisions; ++k) {
    const uint64_t offset = GetU32(held.data() + Table + 4 * k);
    uint64_t packed = 0;
    if (offset + 8 <= held.size()) {
      packed = GetU32(held.data() + offset);
      claimed += GetU32(held.data() + offset + 4);
    }
    blocks.emplace_back(offset, offset + 8 + packed);
  }
  std::sort(blocks.begin(), blocks.end());
  bool shared = false;
  uint64_t reached = blocks[0].second;
  for (size_t k = 1; k < blocks.size(); ++k) {
    shared = shared || blocks[k].first < reached;
    reached = std::max(reached, blocks[k].second);
  }
  return shared && claimed > budget;
}

bool SameTables(const JosekiTable& a, const JosekiTable& b) {
  if (a.bucketCount != b.bucketCount || a.nodeCount != b.nodeCount || a.moveCount != b.moveCount)
    return false;
  for (int32_t k = 0; k < a.bucketCount; ++k) {
    if (a.bucketSizes[k] != b.bucketSizes[k]) return false;
    const JosekiNode* x = a.buckets[k];
    const JosekiNode* y = b.buckets[k];
    for (; x != nullptr && y != nullptr; x = x->next, y = y->next) {
      if (x->key.low != y->key.low || x->key.high != y->key.high || x->moveCount != y->moveCount)
        return false;
      for (int32_t i = 0; i < x->moveCount; ++i) {
        if (x->moves[i].code != y->moves[i].code || x->moves[i].aux != y->moves[i].aux ||
            x->moves[i].data != y->moves[i].data) {
          return false;
        }
      }
    }
    if (x != nullptr || y != nullptr) return false;
  }
  return true;
}

bool SortedAndCounted(const JosekiTable& table) {
  int64_t nodes = 0, moves = 0;
  for (int32_t k = 0; k < table.bucketCount; ++k) {
    int32_t chain = 0;
    for (const JosekiNode* node = table.buckets[k]; node != nullptr; node = node->next) {
      ++chain;
      moves += node->moveCount;
      if (node->moveCount < 1 || node->moveCount > MaxMovesPerNode) return false;
      for (int32_t i = 1; i < node->moveCount; ++i) {
        if (node->moves[i - 1].code > node->moves[i].code) return false;
      }
    }
    if (chain != table.bucketSizes[k]) return false;
    nodes += chain;
  }
  return nodes == table.nodeCount && moves == table.moveCount;
}

}  // namespace fuzz
