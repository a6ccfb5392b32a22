#include "book/parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "book/book_body.h"
#include "book/table_packing.h"
#include "thread/worker_thread.h"
#include "stream/wrap_around.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t Chunk = PackChunkSize;

// SplitMix64.
FIX_WRAPS_AROUND uint64_t NextRandom(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

Bytes Incompressible(uint32_t size) {
  uint64_t state = size;
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(NextRandom(&state) >> 56);
  return bytes;
}

// Records that repeat with small changes, so that matches keep reaching back
// over every chunk's start.
Bytes Compressible(uint32_t size) {
  Bytes bytes(size);
  uint64_t state = 7;
  for (uint32_t i = 0; i < size; ++i) {
    bytes[i] = i % 13 < 9 ? static_cast<uint8_t>(i / 13 % 7) : static_cast<uint8_t>(NextRandom(&state) % 3);
  }
  return bytes;
}

void PutU32(Bytes* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A raw body laid out as a real book's: buckets, positions with random keys
// in descending order in each bucket, 1 to 8 moves each, few moves more often,
// codes ascending, small counts and weights.
Bytes BookLikeBody(uint32_t positions, uint32_t buckets) {
  uint64_t state = 12345;
  std::vector<std::vector<uint64_t>> keys(buckets);
  for (uint32_t i = 0; i < positions; ++i) {
    const uint64_t key = NextRandom(&state) | 64;
    keys[static_cast<uint32_t>(key) % buckets].push_back(key);
  }
  std::vector<uint8_t> moveCounts(positions);
  uint32_t moves = 0;
  for (uint8_t& count : moveCounts) {
    const uint32_t roll = static_cast<uint32_t>(NextRandom(&state) % 36);
    count = static_cast<uint8_t>(roll < 16 ? 1 : roll < 26 ? 2 : roll < 31 ? 3 : 4 + roll % 5);
    moves += count;
  }
  Bytes body;
  PutU32(&body, buckets);
  PutU32(&body, positions);
  PutU32(&body, moves);
  uint32_t first = 0;
  for (auto& bucket : keys) {
    std::sort(bucket.rbegin(), bucket.rend());
    PutU32(&body, first);
    body.push_back(static_cast<uint8_t>(bucket.size()));
    body.push_back(static_cast<uint8_t>(bucket.size() >> 8));
    first += static_cast<uint32_t>(bucket.size());
  }
  uint32_t node = 0, firstMove = 0;
  for (const auto& bucket : keys) {
    for (uint64_t key : bucket) {
      PutU32(&body, static_cast<uint32_t>(key));
      PutU32(&body, static_cast<uint32_t>(key >> 32));
      PutU32(&body, firstMove);
      body.push_back(moveCounts[node]);
      firstMove += moveCounts[node++];
    }
  }
  for (uint8_t count : moveCounts) {
    uint32_t code = static_cast<uint32_t>(NextRandom(&state) % 4000);
    for (uint8_t m = 0; m < count; ++m) {
      code += 1 + static_cast<uint32_t>(NextRandom(&state) % 300);
      const uint64_t r = NextRandom(&state);
      body.push_back(static_cast<uint8_t>(code));
      body.push_back(static_cast<uint8_t>(code >> 8));
      body.push_back(static_cast<uint8_t>(r % 20));
      body.push_back(0);
      PutU32(&body, static_cast<uint32_t>((r >> 8) % 5000));
    }
  }
  return body;
}

Bytes Compress(const Bytes& raw) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(length);
  static const uint8_t nothing = 0;
  EXPECT_EQ(
      compress(packed.data(), &length, raw.empty() ? &nothing : raw.data(), static_cast<uLong>(raw.size())),
      Z_OK);
  packed.resize(length);
  return packed;
}

// Packs with a capacity of PackedBodyBound; empty on any failure.
Bytes Pack(const Bytes& raw, int32_t threads) {
  const uint32_t size = static_cast<uint32_t>(raw.size());
  Bytes packed(PackedBodyBound(size));
  uint32_t packedSize = 0;
  const int32_t result = PackRawBody(raw.data(), size, packed.data(), static_cast<uint32_t>(packed.size()),
                                     &packedSize, threads);
  EXPECT_EQ(result, PackDone) << threads << " threads";
  packed.resize(result == PackDone ? packedSize : 0);
  return packed;
}

bool Unpacks(const Bytes& packed, const Bytes& raw) {
  Bytes out(raw.size() + 1);
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size())) != Z_OK) return false;
  out.resize(length);
  return out == raw;
}

// The room the merge gives compress today: 0.2 % above the raw size plus 12
// bytes, never below compressBound.
uint64_t MergeCapacity(uint32_t size) {
  const uint64_t rule = static_cast<uint64_t>(static_cast<double>(size) * 1.002 + 12.0);
  return std::max<uint64_t>(rule, compressBound(size));
}

// Lets only `starts` threads start while it lives.
class StartLimit {
 public:
  explicit StartLimit(int32_t starts) { SetWorkerStartLimit(starts); }
  StartLimit(const StartLimit&) = delete;
  StartLimit& operator=(const StartLimit&) = delete;
  ~StartLimit() { SetWorkerStartLimit(-1); }
};

struct Body {
  const char* what;
  uint32_t size;
  bool random;
};

const Body Bodies[] = {
    {"empty", 0, false},
    {"one byte", 1, false},
    {"a chunk less one byte", Chunk - 1, false},
    {"one chunk", Chunk, false},
    {"a chunk and one byte", Chunk + 1, false},
    {"three chunks", 3 * Chunk, false},
    {"one random byte", 1, true},
    {"a random chunk less one byte", Chunk - 1, true},
    {"one random chunk", Chunk, true},
    {"a random chunk and one byte", Chunk + 1, true},
    {"three random chunks", 3 * Chunk, true},
};

Bytes Make(const Body& body) { return body.random ? Incompressible(body.size) : Compressible(body.size); }

TEST(ParallelDeflateTest, EveryBodyUnpacksAndPacksAlikeOnAnyNumberOfThreads) {
  for (const Body& body : Bodies) {
    SCOPED_TRACE(body.what);
    const Bytes raw = Make(body);
    const Bytes packed = Pack(raw, 1);
    EXPECT_TRUE(Unpacks(packed, raw));
    EXPECT_LE(packed.size(), MergeCapacity(body.size));
    if (body.size <= Chunk) {
      EXPECT_EQ(packed, Compress(raw)) << "a single chunk packs as compress does";
    }
    for (int32_t threads : {2, 8, 0}) EXPECT_EQ(Pack(raw, threads), packed) << threads << " threads";
    for (int32_t starts : {0, 1}) {
      const StartLimit limit(starts);
      EXPECT_EQ(Pack(raw, 8), packed) << "with only " << starts << " thread starts";
    }
  }
}

// Too little room fails with a result, writes nothing past the capacity and
// leaves no thread behind, also when threads still hold chunks.
TEST(ParallelDeflateTest, TooLittleRoomFailsWithoutWritingPastIt) {
  for (const Body& body : {Bodies[0], Bodies[4], Bodies[10]}) {
    SCOPED_TRACE(body.what);
    const Bytes raw = Make(body);
    const Bytes packed = Pack(raw, 1);
    for (int32_t threads : {1, 4}) {
      constexpr size_t Guard = 64;
      Bytes out(packed.size() + Guard, 0xA5);
      uint32_t packedSize = 1;
      const uint32_t capacity = static_cast<uint32_t>(packed.size() - 1);
      EXPECT_EQ(PackRawBody(raw.data(), body.size, out.data(), capacity, &packedSize, threads), PackNoRoom);
      EXPECT_EQ(packedSize, 0u);
      EXPECT_TRUE(std::all_of(out.begin() + capacity, out.end(), [](uint8_t b) { return b == 0xA5; }));
      EXPECT_EQ(PackRawBody(raw.data(), body.size, out.data(), capacity + 1, &packedSize, threads), PackDone);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + packedSize), packed);
    }
  }
}

TEST(ParallelDeflateTest, ABookLikeBodyPacksWithinAFraction1Of2000OfCompress) {
  const Bytes raw = BookLikeBody(150000, 8192);
  ASSERT_GT(raw.size(), 4u * Chunk);
  const Bytes packed = Pack(raw, 0);
  const size_t alone = Compress(raw).size();
  EXPECT_TRUE(Unpacks(packed, raw));
  EXPECT_LE(static_cast<double>(packed.size()), static_cast<double>(alone) * 1.0005)
      << packed.size() << " bytes against compress's " << alone;
}

// Whether the table is saved before the packing (one thread) or beside it,
// the progress hears every chunk's end in order, up to the whole body, on
// the caller's thread alone, and changes no byte.
TEST(ParallelDeflateTest, AProgressHearsEachChunkOnTheCallersThreadAndChangesNoByte) {
  struct Heard {
    std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    std::vector<uint32_t> packed;
    uint32_t total = 0;
  };
  const auto hear = [](uint32_t packed, uint32_t total, void* context) {
    Heard* heard = static_cast<Heard*>(context);
    heard->elsewhere |= std::this_thread::get_id() != heard->caller;
    heard->packed.push_back(packed);
    heard->total = total;
  };
  const Bytes raw = BookLikeBody(150000, 8192);
  const uint32_t size = static_cast<uint32_t>(raw.size());
  std::vector<uint32_t> ends;
  for (uint32_t end = Chunk; end < size + Chunk; end += Chunk) ends.push_back(std::min(end, size));
  const auto pack = [&](int32_t threads, const PackProgress* progress) {
    ByteBlock room, body;
    uint32_t length = 0;
    JosekiTablePtr table(LoadJosekiTable(raw.data(), size));
    EXPECT_TRUE(table &&
                PackTableBody(std::move(table), &room, &body, &length, threads, progress) == TablePacked);
    return Bytes(body.bytes.get(), body.bytes.get() + length);
  };
  const Bytes silent = pack(1, nullptr);
  for (int32_t threads : {1, 4}) {
    Heard heard;
    const PackProgress progress{hear, &heard};
    EXPECT_EQ(pack(threads, &progress), silent) << threads << " threads";
    EXPECT_EQ(heard.packed, ends) << threads << " threads";
    EXPECT_EQ(heard.total, size);
    EXPECT_FALSE(heard.elsewhere) << threads << " threads";
  }
}

}  // namespace
