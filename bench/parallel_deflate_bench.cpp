// Measures the body packer against zlib's compress on the same raw body.
//
// The raw body is that of a generated single-body book of 1,000,000
// positions (65,536 buckets, about 40 MB). For compress at the default level
// and for PackRawBody on 1, 2 and 4 threads it prints the best wall-clock and
// processor seconds of several runs, the throughput of raw body per wall
// second, the packed size and its ratio to compress's, and the speed-up over
// compress by wall time. Processor time counts every thread of the process,
// so it shows the work done even when other programs hold the processors
// and wall time says little.
//
// Usage: parallel_deflate_bench [runs]   (3 runs unless given)

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "bench/book_generator.h"
#include "book/parallel_deflate.h"

namespace {

using bench::Bytes;
using Clock = std::chrono::steady_clock;

struct Times {
  double wall = 1e300;
  double cpu = 1e300;
};

void Fail(const char* what) {
  std::fprintf(stderr, "parallel_deflate_bench: %s\n", what);
  std::exit(1);
}

// Runs `pack` `runs` times; the best wall and the best processor time.
template <typename Pack>
Times Measure(int runs, Pack pack) {
  Times best;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point wall = Clock::now();
    const std::clock_t cpu = std::clock();
    pack();
    const double cpuSeconds = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - wall).count();
    if (wallSeconds < best.wall) best.wall = wallSeconds;
    if (cpuSeconds < best.cpu) best.cpu = cpuSeconds;
  }
  return best;
}

void Print(const char* what, const Times& t, size_t rawSize, size_t packedSize, size_t zlibSize,
           double zlibWall) {
  std::printf("%-22s %8.3f %8.3f %8.1f %12zu %9.5f %8.2f\n", what, t.wall, t.cpu,
              static_cast<double>(rawSize) / 1e6 / t.wall, packedSize,
              static_cast<double>(packedSize) / static_cast<double>(zlibSize), zlibWall / t.wall);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  if (argc > 1) {
    char* end = nullptr;
    const long given = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || given < 1 || given > 100) Fail("runs must be 1 to 100");
    runs = static_cast<int>(given);
  }
  const bench::GeneratedBook book = bench::GenerateBook(1000000, 65536, 0x5EED0000u + 1000000);
  const Bytes& raw = book.raw;
  const uint32_t rawSize = static_cast<uint32_t>(raw.size());
  std::printf("raw body of 1,000,000 positions: %u bytes, %u chunks of %u; best of %d runs\n", rawSize,
              (rawSize + PackChunkSize - 1) / PackChunkSize, PackChunkSize, runs);
  std::printf("%-22s %8s %8s %8s %12s %9s %8s\n", "", "wall s", "cpu s", "MB/s", "packed", "/zlib",
              "speed-up");

  Bytes zlib(compressBound(rawSize));
  uLongf zlibSize = 0;
  const Times alone = Measure(runs, [&] {
    zlibSize = static_cast<uLongf>(zlib.size());
    if (compress(zlib.data(), &zlibSize, raw.data(), rawSize) != Z_OK) Fail("compress failed");
  });
  Print("compress", alone, raw.size(), zlibSize, zlibSize, alone.wall);

  Bytes first;
  for (int32_t threads : {1, 2, 4}) {
    Bytes packed(PackedBodyBound(rawSize));
    uint32_t packedSize = 0;
    const Times t = Measure(runs, [&] {
      if (PackRawBody(raw.data(), rawSize, packed.data(), static_cast<uint32_t>(packed.size()), &packedSize,
                      threads) != PackDone) {
        Fail("PackRawBody failed");
      }
    });
    packed.resize(packedSize);
    if (first.empty()) {
      Bytes back(raw.size());
      uLongf backSize = static_cast<uLongf>(back.size());
      if (uncompress(back.data(), &backSize, packed.data(), packedSize) != Z_OK || back != raw) {
        Fail("the packed body does not unpack to the raw body");
      }
      first = packed;
    } else if (packed != first) {
      Fail("the packed bytes depend on the number of threads");
    }
    char label[32];
    std::snprintf(label, sizeof label, "PackRawBody %d thread%s", threads, threads == 1 ? "" : "s");
    Print(label, t, raw.size(), packedSize, zlibSize, alone.wall);
  }
  return 0;
}
