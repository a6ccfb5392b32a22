// Measures what the hardest inputs the updater can be handed cost it: small
// files made to be as expensive as the formats allow. Each case runs in a
// child process of its own and prints its input size, the merge's result,
// its time and the child's peak resident memory.
//
//   empty buckets    a 58 KB book body that unpacks to 10,000,000 empty
//                    buckets (60 MB raw, near deflate's 1032:1 limit)
//   chain tail       a body whose one bucket holds 65,535 positions, and a
//                    64 KB diff of one-record groups for the chain's last one
//   chain built      an empty one-bucket body and a diff that puts 65,535
//                    positions into it, each new one at the chain's end
//   shared block     a divided book whose 64 offsets all name one 58 KB
//                    block, the empty-buckets body: 64 times its work
//   node grown       a one-position body and a 1 MB diff that puts all
//                    65,536 codes into the position and then deletes all but
//                    255 of them, so the merge still succeeds
//
// Usage: hostile_input_bench. Files go to $TMPDIR (or /tmp) and are removed.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "book/parallel_deflate.h"
#include "stream/byte_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A BookBody block: the two counts and the packed raw body.
Bytes PackedBody(const Bytes& raw) {
  uLongf length = compressBound(raw.size());
  Bytes packed(length);
  if (compress2(packed.data(), &length, raw.data(), raw.size(), 9) != Z_OK) std::exit(1);
  Bytes block;
  Put(&block, static_cast<uint32_t>(length), 4);
  Put(&block, static_cast<uint32_t>(raw.size()), 4);
  block.insert(block.end(), packed.begin(), packed.begin() + static_cast<long>(length));
  return block;
}

// A raw body of one bucket holding `count` positions (low 64 + count - 1
// down to 64), one move each: a sound chain in descending order.
Bytes OneChain(uint32_t count) {
  Bytes raw;
  Put(&raw, 1, 4), Put(&raw, count, 4), Put(&raw, count, 4), Put(&raw, 0, 4), Put(&raw, count, 2);
  for (uint32_t i = 0; i < count; ++i)
    Put(&raw, 64 + count - 1 - i, 4), Put(&raw, 0, 4), Put(&raw, i, 4), Put(&raw, 1, 1);
  for (uint32_t i = 0; i < count; ++i) Put(&raw, 1, 2), Put(&raw, 0, 2), Put(&raw, 0, 4);
  return raw;
}

Bytes EmptyBuckets(uint32_t buckets) {
  Bytes raw;
  Put(&raw, buckets, 4), Put(&raw, 0, 4), Put(&raw, 0, 4);
  raw.resize(raw.size() + 6 * static_cast<size_t>(buckets), 0);
  return raw;
}

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/hostile-" + std::to_string(getpid()) + "-" + name;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::exit(1);
  std::fclose(file);
}

// Merges `diff` into the book in `oldBook` the way a package entry does and
// returns the merge's result.
long Merge(const Bytes& oldBook, Bytes diff, bool divided) {
  const std::string oldPath = TempPath("old"), newPath = TempPath("new");
  WriteFile(oldPath, oldBook);
  StreamPtr oldFile(OpenFileStream(oldPath.c_str(), true));
  StreamPtr newFile(OpenFileStream(newPath.c_str(), false));
  StreamPtr package(OpenMemoryStream(diff.data(), static_cast<uint32_t>(diff.size()), true));
  if (!oldFile || !newFile || !package) std::exit(1);
  long result;
  if (divided) {
    result = MergeDividedBook(package.get(), oldFile.get(), newFile.get(), DefaultPackThreads());
  } else {
    result = static_cast<long>(MergeBookDiff(package.get(), oldFile.get(), newFile.get(), DefaultPackThreads()));
    if (result == static_cast<long>(MergeFailed)) result = -1;
  }
  std::remove(oldPath.c_str());
  std::remove(newPath.c_str());
  return result;
}

struct Case {
  const char* name;
  Bytes book;
  Bytes diff;
  bool divided;
};

Case EmptyBucketsCase() { return {"empty buckets", PackedBody(EmptyBuckets(10000000)), {0, 0, 0, 0}, false}; }

Case ChainTailCase() {
  Bytes diff;
  while (diff.size() + 17 + 4 <= 65536) {
    Put(&diff, 64, 4), Put(&diff, 0, 4), Put(&diff, 1, 1);               // the chain's last position
    Put(&diff, 7, 2), Put(&diff, 0xFFFF, 2), Put(&diff, 0xFFFFFFFF, 4);  // a delete that finds nothing
  }
  Put(&diff, 0, 4);
  return {"chain tail", PackedBody(OneChain(65535)), diff, false};
}

Case ChainBuiltCase() {
  Bytes diff;
  for (uint32_t i = 0; i < 65535; ++i) {
    Put(&diff, 0xFFFF0000u - i, 4), Put(&diff, 0, 4), Put(&diff, 1, 1);  // each key below the ones before
    Put(&diff, 1, 2), Put(&diff, 0, 2), Put(&diff, 0, 4);
  }
  Put(&diff, 0, 4);
  return {"chain built", PackedBody(OneChain(0)), diff, false};
}

// Divisions may share a block, and each is merged from it: the costliest
// such file names the costliest small body 64 times.
Case SharedBlockCase() {
  Bytes book = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};
  for (int d = 0; d < 64; ++d) Put(&book, 264, 4);
  const Bytes block = PackedBody(EmptyBuckets(10000000));
  book.insert(book.end(), block.begin(), block.end());
  return {"shared block", book, Bytes(65 * 4, 0), true};
}

// A position may pass 255 moves on the way through a list: every code is
// put, each put scanning and copying the grown position, and then all but
// 255 are deleted again.
Case NodeGrownCase() {
  Bytes diff;
  const auto groups = [&diff](uint32_t first, uint32_t end, bool remove) {
    for (uint32_t code = first; code < end;) {
      const uint32_t count = end - code < 255 ? end - code : 255;
      Put(&diff, 64, 4), Put(&diff, 0, 4), Put(&diff, count, 1);
      for (uint32_t i = 0; i < count; ++i, ++code) {
        Put(&diff, code, 2);
        if (remove) Put(&diff, 0xFFFF, 2), Put(&diff, 0xFFFFFFFF, 4);
        else Put(&diff, 0, 2), Put(&diff, code, 4);
      }
    }
  };
  groups(0, 65536, false);
  groups(255, 65536, true);
  Put(&diff, 0, 4);
  return {"node grown", PackedBody(OneChain(1)), diff, false};
}

void Run(Case (*make)()) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const Case c = make();
    const auto start = std::chrono::steady_clock::now();
    const long result = Merge(c.book, c.diff, c.divided);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-14s %9zu %9zu %10ld %8.3f %9ld\n", c.name, c.book.size(), c.diff.size(), result, seconds,
                usage.ru_maxrss / 1024);
    std::fflush(stdout);
    std::_Exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("a case failed to run\n");
}

}  // namespace

int main() {
  std::printf("%-14s %9s %9s %10s %8s %9s\n", "case", "book B", "diff B", "result", "seconds", "peak MB");
  std::printf("(peak memory includes making the input)\n");
  Run(EmptyBucketsCase);
  Run(ChainTailCase);
  Run(ChainBuiltCase);
  Run(SharedBlockCase);
  Run(NodeGrownCase);
  return 0;
}
