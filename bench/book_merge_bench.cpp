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
// Usage: book_merge_bench [--quick | --profile[-divided] [positions [runs [threads]]]]
//   --quick leaves out 4,000,000; --profile merges one single-body book
//   (--profile-divided one divided book)
//   (1,000,000 positions, 3 runs unless given) and prints only its figures,
//   for running under a profiler. Each peak memory is that of a merge run by
//   this program started afresh as `book_merge_bench --peak ...`.
// The data is generated with fixed seeds; files go to a fresh folder under
// $TMPDIR (or /tmp) and are removed at the end.

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "bench/book_generator.h"
#include "book/book_body.h"
#include "book/book_format.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "book/joseki_table.h"
#include "book/parallel_deflate.h"
#include "book/table_packing.h"
#include "stream/byte_stream.h"

namespace {

using bench::Bytes;
using Clock = std::chrono::steady_clock;

const uint8_t* const SingleMagic = BookFileMagic;

// The threads the merges of this run are given (Threads(0): one per
// processor, as the programs choose).
int32_t mergeThreads = 1;
int32_t Threads(int threads) { return threads > 0 ? threads : DefaultPackThreads(); }

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

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
        if (std::strncmp(line, field, std::strlen(field)) == 0)
          kb = std::strtol(line + std::strlen(field), nullptr, 10);
      }
      std::fclose(f);
    }
    return kb;
  }
  bool supported_ = false;
  long base_ = 0;
};

// Wall-clock and processor time of one stretch of work. The machine may be
// shared, so each figure is the smallest of a few runs, and the ratio is also
// given in processor time, which other people's work disturbs less.
struct Timing {
  double wall = 1e300;
  double cpu = 1e300;
  long faults = -1;  // pages the system had to provide (minor faults), in the first run
  void KeepBest(const Timing& other) {
    if (other.wall < wall) wall = other.wall;
    if (other.cpu < cpu) cpu = other.cpu;
    if (faults < 0) faults = other.faults;
  }
};

long MinorFaults() {
#ifdef __linux__
  rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) == 0) return usage.ru_minflt;
#endif
  return 0;
}

class Stopwatch {
 public:
  Stopwatch() : wall_(Clock::now()), cpu_(std::clock()), faults_(MinorFaults()) {}
  Timing Read() const {
    Timing t;
    t.wall = Seconds(wall_);
    t.cpu = static_cast<double>(std::clock() - cpu_) / CLOCKS_PER_SEC;
    t.faults = MinorFaults() - faults_;
    return t;
  }

 private:
  Clock::time_point wall_;
  std::clock_t cpu_;
  long faults_;
};

struct Figures {
  double rawBytes = 0;  // raw size of the old book (all divisions)
  Timing merge;         // the merge, files opened to new file closed
  Timing zlib;          // uncompress of the old bodies + compress of the new ones, alone
  double peak = 0;      // bytes of resident memory above the start, or -1
  uint32_t positions = 0;
  int runs = 0;
  std::vector<double> ratios, cpuRatios;              // merge over zlib alone, run by run
  std::vector<std::pair<const char*, Timing>> steps;  // the merge's steps alone, when asked
  int threads = 0;                                    // that pack each body; 0: one per processor
  Bytes newFile;                                      // what the merge wrote
  double packedBytes = 0;                             // of the new bodies, by the merge
  double compressBytes = 0;                           // of the new raw bodies by compress()
};

void PrintHeader() {
  std::printf("%-19s %9s %7s %6s %4s %8s %8s %6s %6s %8s %6s %7s %9s %15s\n", "book", "positions", "threads",
              "raw MB", "runs", "merge s", "zlib s", "ratio", "cpu", "peak/raw", "MB/s", "us/pos",
              "size/zlib", "faults m/zlib");
}

// The middle one of the run-by-run ratios: each merge is set against the zlib
// run right behind it, so that slow stretches of a shared machine hit both.
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintFigures(const char* name, const Figures& f) {
  const double mb = f.rawBytes / 1e6;
  std::printf("%-19s %9u %7d %6.1f %4d %8.3f %8.3f %6.3f %6.3f %8.2f %6.1f %7.2f %+8.3f%% %7ld/%-7ld\n", name,
              f.positions, Threads(f.threads), mb, f.runs, f.merge.wall, f.zlib.wall, Median(f.ratios),
              Median(f.cpuRatios), f.peak < 0 ? -1.0 : f.peak / f.rawBytes, mb / f.merge.wall,
              f.merge.wall / f.positions * 1e6, 100 * (f.packedBytes / f.compressBytes - 1), f.merge.faults,
              f.zlib.faults);
}

// zlib's own work on the bytes that the merge handled: uncompress every old
// body into a buffer of its rawSize, compress every new raw body at the
// default level. The new raw bodies are unpacked beforehand, untimed.
class ZlibAlone {
 public:
  ZlibAlone(const Bytes& oldFile, const std::vector<uint32_t>& oldAt, const Bytes& newFile,
            const std::vector<uint32_t>& newAt) {
    for (uint32_t at : oldAt) {
      old_.emplace_back(&oldFile[at + 8], &oldFile[at + 8] + GetU32(&oldFile[at]));
      oldRawSizes_.push_back(GetU32(&oldFile[at + 4]));
    }
    for (uint32_t at : newAt) {
      Bytes raw(GetU32(&newFile[at + 4]));
      uLongf length = raw.size();
      if (uncompress(raw.data(), &length, &newFile[at + 8], GetU32(&newFile[at])) != Z_OK ||
          length != raw.size())
        Fail("bad new body");
      packedBytes_ += GetU32(&newFile[at]);
      newRaw_.push_back(std::move(raw));
    }
  }

  // The merge's packed bytes and compress()'s of the same raw bodies.
  double PackedBytes() const { return packedBytes_; }
  double CompressBytes() const {
    double total = 0;
    for (const Bytes& raw : newRaw_) {
      uLongf length = compressBound(raw.size());
      std::unique_ptr<uint8_t[]> packed(new uint8_t[length]);
      if (compress(packed.get(), &length, raw.data(), raw.size()) != Z_OK) Fail("compress failed");
      total += static_cast<double>(length);
    }
    return total;
  }

  Timing Run() const {
    const Stopwatch watch;
    for (size_t i = 0; i < old_.size(); ++i) {
      std::unique_ptr<uint8_t[]> raw(new uint8_t[oldRawSizes_[i]]);
      uLongf length = oldRawSizes_[i];
      if (uncompress(raw.get(), &length, old_[i].data(), old_[i].size()) != Z_OK) Fail("bad old body");
    }
    for (const Bytes& raw : newRaw_) {
      uLongf length = compressBound(raw.size());
      std::unique_ptr<uint8_t[]> packed(new uint8_t[length]);
      if (compress(packed.get(), &length, raw.data(), raw.size()) != Z_OK) Fail("compress failed");
    }
    return watch.Read();
  }

 private:
  std::vector<Bytes> old_;
  std::vector<uint32_t> oldRawSizes_;
  std::vector<Bytes> newRaw_;
  double packedBytes_ = 0;
};

struct Paths {
  std::string folder, oldPath, newPath;
};

// The merge as a book entry runs it, timed from the opening of the files to
// the closing of the new one.
template <typename MergeFunction>
Timing TimeMerge(const Paths& paths, Bytes* package, const uint8_t* magic, MergeFunction merge,
                 PeakMemory* peak) {
  peak->Start();
  const Stopwatch watch;
  FileStreamPtr oldFile(OpenFileStream(paths.oldPath.c_str(), true));
  FileStreamPtr newFile(OpenFileStream(paths.newPath.c_str(), false));
  MemoryStreamPtr stream(OpenMemoryStream(package->data(), static_cast<uint32_t>(package->size()), true));
  if (!oldFile || !newFile || !stream) Fail("cannot open the merge's streams");
  uint8_t skipped[8];
  oldFile->Read(skipped, 8);
  newFile->Write(magic, 8);
  if (!merge(stream.get(), oldFile.get(), newFile.get())) Fail("the merge failed");
  if (newFile->Close() != 0) Fail("cannot close the new file");
  return watch.Read();
}

uint32_t BucketsFor(uint32_t positions) {
  const uint64_t buckets = uint64_t{positions} * 65536 / 1000000;
  return buckets == 0 ? 1 : static_cast<uint32_t>(buckets);
}

// The merge's steps one by one, through the same public operations and with
// the same use of memory (the old body unpacked straight from the file into a
// block that then takes the new raw body), each step timed on its own; best
// of `runs` runs per step.
void TimeSteps(const Paths& paths, const Bytes& package, int runs, Figures* figures) {
  auto& steps = figures->steps;
  for (int run = 0; run < runs; ++run) {
    size_t index = 0;
    Stopwatch watch;
    auto lap = [&](const char* name) {
      if (index == steps.size()) steps.push_back({name, Timing()});
      steps[index++].second.KeepBest(watch.Read());
      watch = Stopwatch();
    };

    FILE* file = std::fopen(paths.oldPath.c_str(), "rb");
    uint8_t counts[16];
    if (!file || std::fread(counts, 1, 16, file) != 16) Fail("cannot read the old file");
    const uint32_t packedSize = GetU32(&counts[8]), rawSize = GetU32(&counts[12]);
    const size_t rawRoom = size_t{rawSize} + rawSize / 8 + 4096;
    std::unique_ptr<uint8_t[]> raw(new uint8_t[rawRoom]);
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[1 << 16]);
    z_stream z = {};
    if (inflateInit(&z) != Z_OK) Fail("inflateInit failed");
    z.next_out = raw.get();
    z.avail_out = rawSize;
    for (uint32_t unread = packedSize; unread > 0;) {
      const uint32_t length = unread < (1u << 16) ? unread : (1u << 16);
      if (std::fread(chunk.get(), 1, length, file) != length) Fail("cannot read the old file");
      unread -= length;
      z.next_in = chunk.get();
      z.avail_in = length;
      if (inflate(&z, Z_NO_FLUSH) < 0) Fail("bad old body");
    }
    if (z.total_out != rawSize) Fail("bad old body");
    inflateEnd(&z);
    std::fclose(file);
    lap("read, uncompress");
    JosekiTablePtr table(LoadJosekiTable(raw.get(), rawSize));
    if (!table) Fail("the old body does not load");
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
                            static_cast<uint16_t>(package[at + 2] | package[at + 3] << 8),
                            GetU32(&package[at + 4])};
        if (move.aux == 0xFFFF && move.data == 0xFFFFFFFF) RemoveMove(table.get(), key, move);
        else if (PutMove(table.get(), key, move) == 0) Fail("a put was refused");
      }
    }
    lap("apply diff");
    SortMoves(table.get());
    lap("sort moves");
    const uint32_t size = RawBodySize(table->bucketCount, table->nodeCount, table->moveCount);
    if (size > rawRoom || SaveJosekiTable(table.get(), raw.get(), size) != 0) Fail("cannot save");
    lap("save table");
    table.reset();
    lap("destroy table");
    std::unique_ptr<uint8_t[]> packed(new uint8_t[8 + size_t{PackedBodyCapacity(size)}]);
    uint32_t blockLength = 0;
    if (PackBody(raw.get(), size, packed.get(), mergeThreads, &blockLength) != PackDone) Fail("cannot pack");
    lap("pack");
    file = std::fopen(paths.newPath.c_str(), "wb");
    if (!file || std::fwrite(packed.get(), 1, blockLength, file) != blockLength || std::fclose(file) != 0) {
      Fail("cannot write the new file");
    }
    lap("write new file");
  }
}

void PrintSteps(const Figures& figures) {
  Timing total;
  total.wall = total.cpu = 0;
  total.faults = 0;
  for (const auto& step : figures.steps) {
    total.wall += step.second.wall;
    total.cpu += step.second.cpu;
    total.faults += step.second.faults;
  }
  std::printf("\nThe merge's steps alone, %u positions, best of %d (%.3f s, cpu %.3f s, %ld page faults):\n",
              figures.positions, figures.runs, total.wall, total.cpu, total.faults);
  std::printf("  %-16s %8s %6s %8s %7s\n", "step", "wall s", "%", "cpu s", "faults");
  for (const auto& step : figures.steps) {
    const Timing& t = step.second;
    std::printf("  %-16s %8.3f %6.1f %8.3f %7ld\n", step.first, t.wall, 100 * t.wall / total.wall, t.cpu,
                t.faults);
  }
}

// Offsets of the blocks of a single-body or divided file.
std::vector<uint32_t> BlockOffsets(const Bytes& file, bool divided) {
  if (!divided) return {8};
  std::vector<uint32_t> offsets;
  for (int k = 0; k < DivisionCount; ++k) offsets.push_back(GetU32(&file[8 + 4 * k]));
  return offsets;
}

bool MergeSingle(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  const uint32_t written = MergeBookDiff(package, oldFile, newFile, mergeThreads);
  return written != MergeFailed && newFile->Tell() == static_cast<int32_t>(8 + written);
}

bool MergeDivided(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  return MergeDividedBook(package, oldFile, newFile, mergeThreads) == 0;
}

// Runs this program afresh with `words` and returns what it printed; fails
// with `failure` when it does not end well.
std::string RunSelf(const std::vector<std::string>& words, const char* failure) {
  // The words, each a buffer of its own for execv.
  std::vector<std::vector<char>> buffers;
  std::vector<char*> argv;
  const std::string self = "/proc/self/exe";
  buffers.emplace_back(self.begin(), self.end());
  for (const std::string& word : words) buffers.emplace_back(word.begin(), word.end());
  for (std::vector<char>& buffer : buffers) {
    buffer.push_back(0);
    argv.push_back(buffer.data());
  }
  argv.push_back(nullptr);

  int channel[2];
  if (pipe(channel) != 0) Fail(failure);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    dup2(channel[1], STDOUT_FILENO);
    close(channel[0]);
    close(channel[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(channel[1]);
  std::string said;
  char piece[64];
  for (ssize_t got; child > 0 && (got = read(channel[0], piece, sizeof piece)) > 0;) said.append(piece, got);
  close(channel[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail(failure);
  }
  return said;
}

// The peak memory of one merge, run by this program started afresh with
// --peak: a process that has merged before keeps freed memory for reuse,
// which would count against the merge. -1 when it cannot be told.
double MergePeak(const Paths& paths, const Bytes& package, bool divided, int threads) {
  const std::string packagePath = paths.folder + "/package.bin";
  WriteFile(packagePath, {&package});
  const std::string said = RunSelf({"--peak", divided ? "divided" : "single", std::to_string(threads), paths.folder},
                                   "the merge for the peak memory failed");
  std::remove(packagePath.c_str());
  char* end = nullptr;
  const double peak = std::strtod(said.c_str(), &end);
  return end != said.c_str() ? peak : -1;
}

// --peak single|divided THREADS FOLDER: merges FOLDER's old.bin with its
// package.bin into new.bin on THREADS threads and prints the bytes of
// resident memory the merge added at its peak.
int RunPeak(char** argv) {
  const bool divided = std::strcmp(argv[2], "divided") == 0;
  mergeThreads = Threads(static_cast<int>(std::strtol(argv[3], nullptr, 10)));
  const std::string folder = argv[4];
  const Paths paths{folder, folder + "/old.bin", folder + "/new.bin"};
  Bytes package = ReadFile(folder + "/package.bin");
  PeakMemory peak;
  if (divided) {
    TimeMerge(paths, &package, DividedBookMagic, MergeDivided, &peak);
  } else {
    TimeMerge(paths, &package, SingleMagic, MergeSingle, &peak);
  }
  std::printf("%.0f\n", peak.Bytes());
  return 0;
}

// Runs `work` and zlib alone in turns, `runs` times each, the first run of
// `work` already done; keeps the best time of each and every run's ratio.
// Which of the two goes first alternates, so that neither always runs in the
// wake of the other (the written file, the freed memory).
template <typename Work>
void Alternate(int runs, const Timing& first, Work work, const ZlibAlone& zlib, Figures* figures) {
  for (int run = 0; run < runs; ++run) {
    Timing done, alone;
    if (run % 2 == 0) {
      done = run == 0 ? first : work();
      alone = zlib.Run();
    } else {
      alone = zlib.Run();
      done = work();
    }
    figures->merge.KeepBest(done);
    figures->zlib.KeepBest(alone);
    figures->ratios.push_back(done.wall / alone.wall);
    figures->cpuRatios.push_back(done.cpu / alone.cpu);
  }
}

// Runs the merge and zlib alone in turns, `runs` times each, keeping the best
// time of each and every run's ratio; the peak memory is that of one more
// merge, in a process of its own.
template <typename MergeFunction>
void Measure(const Paths& paths, Bytes* package, bool divided, MergeFunction merge, int runs,
             Figures* figures) {
  const uint8_t* magic = divided ? DividedBookMagic : SingleMagic;
  figures->runs = runs;
  figures->peak = MergePeak(paths, *package, divided, figures->threads);
  PeakMemory peak;
  Timing first = TimeMerge(paths, package, magic, merge, &peak);
  const Bytes oldFile = ReadFile(paths.oldPath), newFile = ReadFile(paths.newPath);
  const ZlibAlone zlib(oldFile, BlockOffsets(oldFile, divided), newFile, BlockOffsets(newFile, divided));
  figures->packedBytes = zlib.PackedBytes();
  figures->compressBytes = zlib.CompressBytes();
  figures->newFile = newFile;
  Alternate(runs, first, [&]() { return TimeMerge(paths, package, magic, merge, &peak); }, zlib, figures);
}

// Writes the old single book of `positions` to paths.oldPath; its diff list.
Bytes MakeSingle(const Paths& paths, uint32_t positions, Figures* figures) {
  Bytes package;
  bench::GeneratedBook book = bench::GenerateBook(positions, BucketsFor(positions), 0x5EED0000u + positions);
  bench::AppendDiff(book, positions / 10, 0xD1FF0000u + positions, &package);
  figures->rawBytes = static_cast<double>(book.raw.size());
  const Bytes magic(SingleMagic, SingleMagic + 8);
  const Bytes body = bench::PackBody(book.raw);
  WriteFile(paths.oldPath, {&magic, &body});
  return package;
}

// Writes the old divided book of `positions` to paths.oldPath; its package
// payload (the ignored word and the 64 lists).
Bytes MakeDivided(const Paths& paths, uint32_t positions, Figures* figures) {
  Bytes package(4, 0);  // the ignored word
  Bytes file(DividedFirstBlock, 0);
  std::memcpy(file.data(), DividedBookMagic, 8);
  for (int k = 0; k < DivisionCount; ++k) {
    const uint32_t share = positions / DivisionCount + (static_cast<uint32_t>(k) < positions % DivisionCount);
    bench::GeneratedBook book = bench::GenerateBook(share, BucketsFor(positions) / DivisionCount, 0xD1F0000u + k);
    bench::AppendDiff(book, share / 10, 0xD1FF000u + k, &package);
    figures->rawBytes += static_cast<double>(book.raw.size());
    const uint32_t at = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) file[8 + 4 * k + i] = static_cast<uint8_t>(at >> (8 * i));
    const Bytes body = bench::PackBody(book.raw);
    file.insert(file.end(), body.begin(), body.end());
    file.resize((file.size() + 3) & ~size_t{3}, 0);
  }
  WriteFile(paths.oldPath, {&file});
  return package;
}

Figures RunSingle(const Paths& paths, uint32_t positions, int runs, int threads, bool steps) {
  mergeThreads = Threads(threads);
  Figures figures;
  figures.positions = positions;
  figures.threads = threads;
  Bytes package = MakeSingle(paths, positions, &figures);
  Measure(paths, &package, false, MergeSingle, runs, &figures);
  if (steps) TimeSteps(paths, package, runs, &figures);
  return figures;
}

Figures RunDivided(const Paths& paths, uint32_t positions, int runs, int threads) {
  mergeThreads = Threads(threads);
  Figures figures;
  figures.positions = positions;
  figures.threads = threads;
  Bytes package = MakeDivided(paths, positions, &figures);
  Measure(paths, &package, true, MergeDivided, runs, &figures);
  return figures;
}

// --- fixpack apply, the whole process

// The update data file of one book entry that keeps the present book as
// joseki.100 and merges `payload` into joseki.dat.
Bytes DataFileOf(bool divided, const Bytes& payload) {
  Bytes script;
  auto put32 = [&script](uint32_t value) {
    for (int i = 0; i < 4; ++i) script.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put32(divided ? 1 : 0);  // KindDividedBook or KindBook
  for (const char* name : {"joseki.100", "joseki.dat"}) {
    script.push_back(static_cast<uint8_t>(std::strlen(name) + 1));
    script.insert(script.end(), name, name + std::strlen(name) + 1);
  }
  script.insert(script.end(), payload.begin(), payload.end());
  uLongf packedLength = compressBound(script.size());
  Bytes file(8 + packedLength);
  if (compress(file.data() + 8, &packedLength, script.data(), script.size()) != Z_OK) Fail("compress failed");
  file.resize(8 + packedLength);
  for (int i = 0; i < 4; ++i) file[i] = static_cast<uint8_t>(packedLength >> (8 * i));
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<uint8_t>(script.size() >> (8 * i));
  return file;
}

// --spawn PROGRAM ARGS...: runs the program, its output thrown away, and
// prints its wall-clock and processor seconds, its page faults and its peak
// resident memory in KiB. A process of its own, small when it forks: the
// system counts into a child's peak whatever its parent held at the fork.
int RunSpawn(char** argv) {
  const Stopwatch watch;
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return 1;
  }
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %.6f %ld %ld\n", watch.Read().wall, cpu, usage.ru_minflt, usage.ru_maxrss);
  return 0;
}

// Runs `fixpack apply DATAFILE FOLDER` through --spawn; its times and its
// peak resident memory in bytes.
Timing RunFixpackApply(const std::string& fixpack, const std::string& dataFile, const std::string& folder,
                       double* peak) {
  const std::string said = RunSelf({"--spawn", fixpack, "apply", dataFile, folder}, "fixpack apply failed");
  // Four figures, each checked for being there: wall, cpu, faults, kilobytes.
  Timing t;
  const char* at = said.c_str();
  char* end = nullptr;
  t.wall = std::strtod(at, &end);
  const bool wall = end != at;
  at = end;
  t.cpu = std::strtod(at, &end);
  const bool cpu = end != at;
  at = end;
  t.faults = std::strtol(at, &end, 10);
  const bool faults = end != at;
  at = end;
  const long kb = std::strtol(at, &end, 10);
  if (!wall || !cpu || !faults || end == at) Fail("fixpack apply's figures cannot be read");
  *peak = static_cast<double>(kb) * 1024.0;
  return t;
}

// fixpack (built beside the benchmarks) applying the 1,000,000-position book
// entry on its default threads, read, merge, write, flush and keep, against
// zlib's uncompress + compress of the same bodies in the same run. Null
// figures when fixpack is not built.
bool RunApply(const Paths& paths, bool divided, int runs, Figures* figures) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return false;
  std::string fixpack(self, static_cast<size_t>(length));
  fixpack = fixpack.substr(0, fixpack.rfind('/')) + "/../tools/fixpack";
  if (access(fixpack.c_str(), X_OK) != 0) return false;

  figures->positions = 1000000;
  figures->threads = 0;
  figures->runs = runs;
  const Bytes payload = divided ? MakeDivided(paths, 1000000, figures) : MakeSingle(paths, 1000000, figures);
  const Bytes oldFile = ReadFile(paths.oldPath);
  const Bytes dataFile = DataFileOf(divided, payload);
  const std::string dataPath = paths.folder + "/upda.dat", install = paths.folder + "/install";
  const std::string book = install + "/joseki.dat", kept = install + "/joseki.100";
  WriteFile(dataPath, {&dataFile});
  mkdir(install.c_str(), 0700);
  auto apply = [&]() {
    std::remove(kept.c_str());
    WriteFile(book, {&oldFile});
    double peak = 0;
    const Timing t = RunFixpackApply(fixpack, dataPath, install, &peak);
    if (peak > figures->peak) figures->peak = peak;
    return t;
  };
  const Timing first = apply();
  const Bytes newFile = ReadFile(book);
  if (ReadFile(kept) != oldFile) Fail("fixpack apply did not keep the present book");
  const ZlibAlone zlib(oldFile, BlockOffsets(oldFile, divided), newFile, BlockOffsets(newFile, divided));
  figures->packedBytes = zlib.PackedBytes();
  figures->compressBytes = zlib.CompressBytes();
  figures->newFile = newFile;
  Alternate(runs, first, apply, zlib, figures);
  for (const std::string* path : {&book, &kept, &dataPath}) std::remove(path->c_str());
  rmdir(install.c_str());
  return true;
}

void RemoveData(const Paths& paths) {
  std::remove(paths.oldPath.c_str());
  std::remove(paths.newPath.c_str());
  rmdir(paths.folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--peak") == 0) return RunPeak(argv);
  if (argc > 2 && std::strcmp(argv[1], "--spawn") == 0) return RunSpawn(argv);
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const bool dividedProfile = argc > 1 && std::strcmp(argv[1], "--profile-divided") == 0;
  const bool profile = dividedProfile || (argc > 1 && std::strcmp(argv[1], "--profile") == 0);
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/book_merge_bench.XXXXXX";
  std::vector<char> name(folder.begin(), folder.end());
  name.push_back(0);
  if (!mkdtemp(name.data())) Fail("cannot make a folder for the data");
  Paths paths{name.data(), std::string(name.data()) + "/old.bin", std::string(name.data()) + "/new.bin"};

  if (profile) {  // merges of one book only, for a profiler
    const uint32_t positions = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1000000;
    const long runs = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 3;
    const long threads = argc > 4 ? std::strtol(argv[4], nullptr, 10) : 0;
    if (positions < 100 || runs < 1 || runs > 1000 || threads < 0 || threads > PackMostThreads)
      Fail("usage: book_merge_bench --profile[-divided] [positions [runs [threads]]]");
    const Figures f =
        dividedProfile ? RunDivided(paths, positions, static_cast<int>(runs), static_cast<int>(threads))
                       : RunSingle(paths, positions, static_cast<int>(runs), static_cast<int>(threads), true);
    std::printf(
        "merge %.3f s (cpu %.3f s, %ld page faults, peak %.2f x raw), zlib alone %.3f s (cpu %.3f s, %ld "
        "page faults)\n",
        f.merge.wall, f.merge.cpu, f.merge.faults, f.peak / f.rawBytes, f.zlib.wall, f.zlib.cpu,
        f.zlib.faults);
    for (size_t run = 0; run < f.ratios.size(); ++run) {
      std::printf("  run %zu: ratio %.3f, cpu %.3f\n", run + 1, f.ratios[run], f.cpuRatios[run]);
    }
    if (!dividedProfile) PrintSteps(f);
    RemoveData(paths);
    return 0;
  }

  std::printf(
      "zlib %s, compress at the default level. Times: best of `runs` runs; ratio and cpu: median of\n"
      "the runs' merge / zlib-alone ratios in wall-clock and in processor time.\n",
      zlibVersion());
  PrintHeader();
  struct Size {
    uint32_t positions;
    int runs;
  };
  std::vector<Size> sizes = {{20000, 7}, {1000000, 5}};
  if (!quick) sizes.push_back({4000000, 2});
  std::vector<Figures> growth;
  for (const Size& size : sizes) {
    growth.push_back(RunSingle(paths, size.positions, size.runs, 0, size.positions == 1000000));
    PrintFigures("single body", growth.back());
    std::fflush(stdout);
  }
  const Figures divided = RunDivided(paths, 1000000, 3, 0);
  PrintFigures("divided, 64 bodies", divided);

  // The same books on 1, 2 and 8 threads: the bytes must not change.
  std::printf("\nBy threads (1,000,000 positions):\n");
  PrintHeader();
  bool sameBytes = true;
  for (const bool isDivided : {false, true}) {
    const Bytes& reference = isDivided ? divided.newFile : growth[1].newFile;
    for (const int threads : {1, 2, 8}) {
      const Figures f =
          isDivided ? RunDivided(paths, 1000000, 3, threads) : RunSingle(paths, 1000000, 3, threads, false);
      PrintFigures(isDivided ? "divided, 64 bodies" : "single body", f);
      std::fflush(stdout);
      sameBytes = sameBytes && f.newFile == reference;
    }
  }

  const Figures& single = growth[1];
  double peak = 0, size = 0;
  for (const Figures* f : {&single, &divided}) {
    if (f->peak / f->rawBytes > peak) peak = f->peak / f->rawBytes;
    const double over = std::fabs(f->packedBytes / f->compressBytes - 1);
    if (over > size) size = over;
  }
  auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
  // The updater's whole work on a book entry, as fixpack apply does it: the
  // new book must be the merge's, byte for byte.
  std::printf("\nfixpack apply as a whole process (peak/raw: the whole process's peak resident memory):\n");
  PrintHeader();
  for (const bool isDivided : {false, true}) {
    Figures f;
    if (!RunApply(paths, isDivided, 3, &f)) {
      std::printf("  fixpack is not built beside the benchmarks (tools/fixpack): left out\n");
      break;
    }
    PrintFigures(isDivided ? "fixpack apply, div." : "fixpack apply, one", f);
    sameBytes = sameBytes && f.newFile == (isDivided ? divided.newFile : growth[1].newFile);
  }

  std::printf("\nGoals, on %d threads (median ratio of the runs):\n", Threads(0));
  std::printf("  single body, 1,000,000 positions: %.3f x zlib alone (at most 0.60): %s\n",
              Median(single.ratios), verdict(Median(single.ratios) <= 0.60));
  std::printf("  divided, 1,000,000 positions:     %.3f x zlib alone (at most 0.55): %s\n",
              Median(divided.ratios), verdict(Median(divided.ratios) <= 0.55));
  std::printf("  peak memory:                      %.2f x the raw body (at most 3): %s\n", peak,
              verdict(peak <= 3));
  std::printf("  bytes on 1, 2 and 8 threads:      %s\n", sameBytes ? "the same: met" : "DIFFERENT: MISSED");
  std::printf("  size against compress():          %.4f %% (within 0.05 %%): %s\n", 100 * size,
              verdict(size <= 0.0005));

  std::printf(
      "\nGrowth of the merge time per position, against 1,000,000 positions (wall-clock; processor):\n");
  const Figures& base = growth[1];
  for (const Figures& f : growth) {
    std::printf("  %9u positions: %8.3f s, %5.2f us/pos, x%.2f; %8.3f s, %5.2f us/pos, x%.2f\n", f.positions,
                f.merge.wall, f.merge.wall / f.positions * 1e6,
                (f.merge.wall / f.positions) / (base.merge.wall / base.positions), f.merge.cpu,
                f.merge.cpu / f.positions * 1e6,
                (f.merge.cpu / f.positions) / (base.merge.cpu / base.positions));
  }
  PrintSteps(growth[1]);
  RemoveData(paths);
  return 0;
}
