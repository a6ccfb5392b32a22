// Measures the book diff merge against zlib's own cost on the same bytes.
//
// For generated single-body books of 20,000, 1,000,000 and 4,000,000
// positions (buckets in proportion, 65,536 for 1,000,000; a diff of one group
// per ten positions) and for a divided book of 1,000,000 positions, it prints
// the merge's time, the time of zlib's uncompress of the old body plus
// compress of the new raw body alone, their ratio, the merge's peak resident
// memory over the raw body size, and the throughput in MB/s of raw body. For
// the 1,000,000-position book it also times each step of the merge on its
// own, through the same public operations.
//
// Usage: book_merge_bench [--quick]   (--quick leaves out 4,000,000)
// The data is generated with fixed seeds; files go to a fresh folder under
// $TMPDIR (or /tmp) and are removed at the end.

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#include <unistd.h>
#endif

#include "book/book_body.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "book/joseki_table.h"
#include "book_generator.h"
#include "stream/byte_stream.h"

namespace {

using bench::Bytes;
using Clock = std::chrono::steady_clock;

const uint8_t SingleMagic[8] = {'J', 'o', 'S', 'e', 'K', 'i', '5', 0};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

uint32_t GetU32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Fail(const char* what) {
  std::fprintf(stderr, "book_merge_bench: %s\n", what);
  std::exit(1);
}

void WriteFile(const std::string& path, const std::vector<const Bytes*>& parts) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) Fail("cannot write a data file");
  for (const Bytes* part : parts) std::fwrite(part->data(), 1, part->size(), file);
  if (std::fclose(file) != 0) Fail("cannot write a data file");
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) Fail("cannot read a data file");
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

// Peak resident memory of a stretch of work: the high-water mark is reset
// before it and read after it, and the resident size before it is taken off.
class PeakMemory {
 public:
  void Start() {
#ifdef __linux__
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
      supported_ = std::fputs("5", f) >= 0;
      supported_ = std::fclose(f) == 0 && supported_;
    }
    base_ = StatusKb("VmRSS:");
#endif
  }
  // Bytes above the start, or -1 when the system cannot tell.
  double Bytes() const {
    if (!supported_) return -1;
    return (StatusKb("VmHWM:") - base_) * 1024.0;
  }

 private:
  static long StatusKb(const char* field) {
    long kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) kb = std::atol(line + std::strlen(field));
      }
      std::fclose(f);
    }
    return kb;
  }
  bool supported_ = false;
  long base_ = 0;
};

struct Figures {
  double rawBytes = 0;   // raw size of the old book (all divisions)
  double merge = 0;      // seconds
  double zlib = 0;       // seconds: uncompress old + compress new, alone
  double peak = 0;       // bytes above the start, or -1
  uint32_t positions = 0;
  std::vector<std::pair<const char*, double>> steps;  // the merge's steps alone, when asked
};

void PrintFigures(const char* name, const Figures& f) {
  const double mb = f.rawBytes / 1e6;
  std::printf("%-22s %9u %8.1f %8.3f %8.3f %6.3f %7.2f %7.1f %8.2f\n", name, f.positions, mb, f.merge, f.zlib,
              f.merge / f.zlib, f.peak < 0 ? -1.0 : f.peak / f.rawBytes, mb / f.merge,
              f.merge / f.positions * 1e6);
}

// zlib alone on the bytes the merge handled: uncompress every old body into a
// buffer of its rawSize, compress every new raw body at the default level.
double ZlibAlone(const Bytes& oldFile, const std::vector<uint32_t>& oldAt, const Bytes& newFile,
                 const std::vector<uint32_t>& newAt) {
  std::vector<Bytes> newRaw;
  for (uint32_t at : newAt) {  // the new raw bodies, outside the timing
    Bytes raw(GetU32(&newFile[at + 4]));
    uLongf length = raw.size();
    if (uncompress(raw.data(), &length, &newFile[at + 8], GetU32(&newFile[at])) != Z_OK) Fail("bad new body");
    newRaw.push_back(std::move(raw));
  }
  const auto start = Clock::now();
  for (uint32_t at : oldAt) {
    const uint32_t rawSize = GetU32(&oldFile[at + 4]);
    std::unique_ptr<uint8_t[]> raw(new uint8_t[rawSize]);
    uLongf length = rawSize;
    if (uncompress(raw.get(), &length, &oldFile[at + 8], GetU32(&oldFile[at])) != Z_OK) Fail("bad old body");
  }
  for (const Bytes& raw : newRaw) {
    uLongf length = compressBound(raw.size());
    std::unique_ptr<uint8_t[]> packed(new uint8_t[length]);
    if (compress(packed.get(), &length, raw.data(), raw.size()) != Z_OK) Fail("compress failed");
  }
  return Seconds(start);
}

struct Paths {
  std::string folder, oldPath, newPath;
};

// The merge as a book entry runs it, timed from the opening of the files to
// the closing of the new one.
template <typename MergeFunction>
double TimeMerge(const Paths& paths, Bytes* package, const uint8_t* magic, MergeFunction merge, PeakMemory* peak) {
  peak->Start();
  const auto start = Clock::now();
  FileStreamPtr oldFile(OpenFileStream(paths.oldPath.c_str(), true));
  FileStreamPtr newFile(OpenFileStream(paths.newPath.c_str(), false));
  MemoryStreamPtr stream(OpenMemoryStream(package->data(), static_cast<uint32_t>(package->size()), true));
  if (!oldFile || !newFile || !stream) Fail("cannot open the merge's streams");
  uint8_t skipped[8];
  oldFile->Read(skipped, 8);
  newFile->Write(magic, 8);
  if (!merge(stream.get(), oldFile.get(), newFile.get())) Fail("the merge failed");
  if (newFile->Close() != 0) Fail("cannot close the new file");
  return Seconds(start);
}

uint32_t BucketsFor(uint32_t positions) {
  const uint64_t buckets = uint64_t{positions} * 65536 / 1000000;
  return buckets == 0 ? 1 : static_cast<uint32_t>(buckets);
}

// The merge's steps one by one, through the same public operations.
void TimeSteps(const Paths& paths, const Bytes& package, Figures* figures) {
  auto& steps = figures->steps;
  auto start = Clock::now();
  auto lap = [&](const char* name) {
    steps.push_back({name, Seconds(start)});
    start = Clock::now();
  };

  Bytes file = ReadFile(paths.oldPath);
  const uint32_t packedSize = GetU32(&file[8]), rawSize = GetU32(&file[12]);
  lap("read old file");
  std::unique_ptr<uint8_t[]> raw(new uint8_t[rawSize]);
  uLongf rawLength = rawSize;
  if (uncompress(raw.get(), &rawLength, &file[16], packedSize) != Z_OK) Fail("bad old body");
  lap("uncompress");
  JosekiTablePtr table(LoadJosekiTable(raw.get(), rawSize));
  if (!table) Fail("the old body does not load");
  raw.reset();
  file = Bytes();
  lap("load table");
  size_t at = 0;
  for (;;) {
    const uint32_t low = GetU32(&package[at]);
    at += 4;
    if (low < 64 || low == 0xFFFFFFFF) break;
    const PositionKey key{low, GetU32(&package[at])};
    const uint8_t count = package[at + 4];
    at += 5;
    for (uint8_t i = 0; i < count; ++i, at += 8) {
      const BookMove move{static_cast<uint16_t>(package[at] | package[at + 1] << 8),
                          static_cast<uint16_t>(package[at + 2] | package[at + 3] << 8), GetU32(&package[at + 4])};
      if (move.aux == 0xFFFF && move.data == 0xFFFFFFFF) RemoveMove(table.get(), key, move);
      else if (PutMove(table.get(), key, move) == 0) Fail("a put was refused");
    }
  }
  lap("apply diff");
  SortMoves(table.get());
  lap("sort moves");
  const uint32_t size = RawBodySize(table->bucketCount, table->nodeCount, table->moveCount);
  std::unique_ptr<uint8_t[]> newRaw(new uint8_t[size]);
  if (SaveJosekiTable(table.get(), newRaw.get(), size) != 0) Fail("cannot save");
  lap("save table");
  table.reset();
  lap("destroy table");
  uLongf packedLength = compressBound(size);
  std::unique_ptr<uint8_t[]> packed(new uint8_t[packedLength]);
  if (compress(packed.get(), &packedLength, newRaw.get(), size) != Z_OK) Fail("compress failed");
  lap("compress");
}

void PrintSteps(const Figures& figures) {
  double total = 0;
  for (const auto& step : figures.steps) total += step.second;
  std::printf("\nThe merge's steps alone, %u positions (%.3f s in all):\n", figures.positions, total);
  for (const auto& step : figures.steps) {
    std::printf("  %-16s %8.3f s %6.1f %%\n", step.first, step.second, 100 * step.second / total);
  }
}

Figures RunSingle(const Paths& paths, uint32_t positions, bool steps) {
  Figures figures;
  figures.positions = positions;
  Bytes package;
  {
    bench::GeneratedBook book = bench::GenerateBook(positions, BucketsFor(positions), 0x5EED0000u + positions);
    bench::AppendDiff(book, positions / 10, 0xD1FF0000u + positions, &package);
    figures.rawBytes = static_cast<double>(book.raw.size());
    const Bytes magic(SingleMagic, SingleMagic + 8);
    const Bytes body = bench::PackBody(book.raw);
    WriteFile(paths.oldPath, {&magic, &body});
  }
  PeakMemory peak;
  uint32_t written = 0;
  figures.merge = TimeMerge(paths, &package, SingleMagic, [&](ByteStream* p, ByteStream* o, ByteStream* n) {
    written = MergeBookDiff(p, o, n);
    return written != MergeFailed;
  }, &peak);
  figures.peak = peak.Bytes();
  const Bytes oldFile = ReadFile(paths.oldPath), newFile = ReadFile(paths.newPath);
  if (newFile.size() != 8 + written) Fail("the new file is not 8 + the merge's result");
  figures.zlib = ZlibAlone(oldFile, {8}, newFile, {8});
  if (steps) TimeSteps(paths, package, &figures);
  return figures;
}

Figures RunDivided(const Paths& paths, uint32_t positions) {
  Figures figures;
  figures.positions = positions;
  Bytes package(4, 0);  // the ignored word
  {
    Bytes file(DividedFirstBlock, 0);
    std::memcpy(file.data(), DividedBookMagic, 8);
    for (int k = 0; k < DivisionCount; ++k) {
      const uint32_t share = positions / DivisionCount + (static_cast<uint32_t>(k) < positions % DivisionCount);
      bench::GeneratedBook book = bench::GenerateBook(share, BucketsFor(positions) / DivisionCount, 0xD1F0000u + k);
      bench::AppendDiff(book, share / 10, 0xD1FF000u + k, &package);
      figures.rawBytes += static_cast<double>(book.raw.size());
      const uint32_t at = static_cast<uint32_t>(file.size());
      for (int i = 0; i < 4; ++i) file[8 + 4 * k + i] = static_cast<uint8_t>(at >> (8 * i));
      const Bytes body = bench::PackBody(book.raw);
      file.insert(file.end(), body.begin(), body.end());
      file.resize((file.size() + 3) & ~size_t{3}, 0);
    }
    WriteFile(paths.oldPath, {&file});
  }
  PeakMemory peak;
  figures.merge = TimeMerge(paths, &package, DividedBookMagic, [](ByteStream* p, ByteStream* o, ByteStream* n) {
    return MergeDividedBook(p, o, n) == 0;
  }, &peak);
  figures.peak = peak.Bytes();
  const Bytes oldFile = ReadFile(paths.oldPath), newFile = ReadFile(paths.newPath);
  std::vector<uint32_t> oldAt, newAt;
  for (int k = 0; k < DivisionCount; ++k) {
    oldAt.push_back(GetU32(&oldFile[8 + 4 * k]));
    newAt.push_back(GetU32(&newFile[8 + 4 * k]));
  }
  figures.zlib = ZlibAlone(oldFile, oldAt, newFile, newAt);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/book_merge_bench.XXXXXX";
  std::vector<char> name(folder.begin(), folder.end());
  name.push_back(0);
  if (!mkdtemp(name.data())) Fail("cannot make a folder for the data");
  Paths paths{name.data(), std::string(name.data()) + "/old.bin", std::string(name.data()) + "/new.bin"};

  std::printf("zlib %s, compress at the default level\n", zlibVersion());
  std::printf("%-22s %9s %8s %8s %8s %6s %7s %7s %8s\n", "book", "positions", "raw MB", "merge s", "zlib s",
              "ratio", "peak/raw", "MB/s", "us/pos");
  std::vector<uint32_t> sizes = {20000, 1000000};
  if (!quick) sizes.push_back(4000000);
  std::vector<Figures> growth;
  for (uint32_t positions : sizes) {
    growth.push_back(RunSingle(paths, positions, positions == 1000000));
    PrintFigures("single body", growth.back());
    std::fflush(stdout);
  }
  PrintFigures("divided, 64 bodies", RunDivided(paths, 1000000));
  std::fflush(stdout);

  std::printf("\nGrowth (merge time per position, relative to 1,000,000):\n");
  const Figures& base = growth[1];
  for (const Figures& f : growth) {
    std::printf("  %9u positions: %8.3f s, %6.2f us/pos, x%.2f per position\n", f.positions, f.merge,
                f.merge / f.positions * 1e6, (f.merge / f.positions) / (base.merge / base.positions));
  }
  PrintSteps(growth[1]);

  std::remove(paths.oldPath.c_str());
  std::remove(paths.newPath.c_str());
  rmdir(paths.folder.c_str());
  return 0;
}
