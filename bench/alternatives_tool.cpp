// The C++ side of bench/alternatives.sh: the pairs of books it compares the
// alternatives on, and the unpacking and repacking that a delta of raw
// bodies needs on both sides.
//
//   alternatives_tool pair POSITIONS PERCENT single|divided OLD NEW
//       OLD: a generated book of POSITIONS positions (a divided one spreads
//       them over its 64 divisions); NEW: OLD after a generated diff of
//       PERCENT groups per hundred positions (new positions, new, changed
//       and deleted moves), merged by the updater's own merge.
//   alternatives_tool unpack BOOK RAW
//       RAW: the raw bodies of BOOK laid end to end, division 0 first.
//   alternatives_tool repack RAW single|divided BOOK
//       BOOK: each raw body of RAW packed as the updater packs a body, in
//       the layout the updater writes.
//
// Exit status 0, or 1 with a message.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/book_generator.h"
#include "book/book_body.h"
#include "book/book_format.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "book/parallel_deflate.h"
#include "book/table_packing.h"
#include "publish/book_image.h"
#include "stream/byte_stream.h"

namespace {

using bench::Bytes;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "alternatives_tool: %s\n", what.c_str());
  std::exit(1);
}

Bytes ReadWhole(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) Fail(path + ": cannot be opened");
  Bytes bytes;
  uint8_t piece[1 << 16];
  size_t got;
  while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) bytes.insert(bytes.end(), piece, piece + got);
  std::fclose(file);
  return bytes;
}

void WriteWhole(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
    Fail(path + ": cannot be written");
}

uint32_t BucketsFor(uint32_t positions) {
  const uint64_t buckets = uint64_t{positions} * 65536 / 1000000;
  return buckets == 0 ? 1 : static_cast<uint32_t>(buckets);
}

// The old book as the benchmark of the merge makes it, and the package
// payload of the diff (the ignored word and 64 lists for a divided book).
void GeneratePair(uint32_t positions, uint32_t percent, bool divided, Bytes* oldFile, Bytes* payload) {
  if (!divided) {
    const bench::GeneratedBook book =
        bench::GenerateBook(positions, BucketsFor(positions), 0x5EED0000u + positions);
    bench::AppendDiff(book, positions / 100 * percent, 0xD1FF0000u + positions, payload);
    *oldFile = SingleBookBytes(bench::PackBody(book.raw));
    return;
  }
  std::vector<Bytes> blocks;
  payload->assign(4, 0);  // the ignored word
  for (int k = 0; k < DivisionCount; ++k) {
    const uint32_t share = positions / DivisionCount + (static_cast<uint32_t>(k) < positions % DivisionCount);
    const bench::GeneratedBook book =
        bench::GenerateBook(share, BucketsFor(positions) / DivisionCount, 0xD1F0000u + k);
    bench::AppendDiff(book, share / 100 * percent, 0xD1FF000u + k, payload);
    blocks.push_back(bench::PackBody(book.raw));
  }
  if (!DividedBookBytes(blocks, oldFile)) Fail("the divided book would pass 2 GiB");
}

// The new book, written by the updater's merge from the old one and the
// diff, exactly as a book entry runs it.
void Merge(const std::string& oldPath, Bytes* payload, bool divided, const std::string& newPath) {
  FileStreamPtr oldFile(OpenFileStream(oldPath.c_str(), true));
  FileStreamPtr newFile(OpenFileStream(newPath.c_str(), false));
  MemoryStreamPtr package(OpenMemoryStream(payload->data(), static_cast<uint32_t>(payload->size()), true));
  if (!oldFile || !newFile || !package) Fail("cannot open the merge's streams");
  uint8_t magic[8];
  oldFile->Read(magic, 8);
  newFile->Write(divided ? DividedBookMagic : BookFileMagic, 8);
  const int32_t threads = DefaultPackThreads();
  const bool merged = divided ? MergeDividedBook(package.get(), oldFile.get(), newFile.get(), threads) == 0
                              : MergeBookDiff(package.get(), oldFile.get(), newFile.get(), threads) != MergeFailed;
  if (!merged || newFile->Close() != 0) Fail(newPath + ": the merge failed");
}

int Pair(char** argv) {
  const uint32_t positions = static_cast<uint32_t>(std::strtoul(argv[0], nullptr, 10));
  const uint32_t percent = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const bool divided = std::strcmp(argv[2], "divided") == 0;
  if (positions < 6400 || percent < 1 || percent > 100 || (!divided && std::strcmp(argv[2], "single") != 0))
    Fail("pair takes POSITIONS (6400 or more), PERCENT (1 to 100) and single or divided");
  Bytes oldFile, payload;
  GeneratePair(positions, percent, divided, &oldFile, &payload);
  WriteWhole(argv[3], oldFile);
  Merge(argv[3], &payload, divided, argv[4]);
  return 0;
}

int Unpack(char** argv) {
  BookImage image;
  std::string error;
  if (!ParseBookImage(ReadWhole(argv[0]), &image, &error)) Fail(std::string(argv[0]) + ": " + error);
  Bytes raw;
  for (int32_t body = 0; body < BookBodyCount(image); ++body) {
    const uint8_t* block = image.bytes.data() + BookBodyOffset(image, body);
    const uint32_t packedSize = LoadU32(block), rawSize = LoadU32(block + 4);
    const size_t at = raw.size();
    raw.resize(at + rawSize);
    uLongf length = rawSize;
    if (uncompress(raw.data() + at, &length, block + 8, packedSize) != Z_OK || length != rawSize)
      Fail(std::string(argv[0]) + ": " + BookBodyName(image, body) + " does not unpack");
  }
  WriteWhole(argv[1], raw);
  return 0;
}

int Repack(char** argv) {
  const Bytes raw = ReadWhole(argv[0]);
  const bool divided = std::strcmp(argv[1], "divided") == 0;
  std::vector<Bytes> blocks;
  for (size_t at = 0; at < raw.size();) {
    if (raw.size() - at < RawHeaderSize) Fail("a raw body is cut short");
    const uint32_t size = RawBodySize(LoadU32(&raw[at]), LoadU32(&raw[at + 4]), LoadU32(&raw[at + 8]));
    if (size > raw.size() - at) Fail("a raw body is cut short");
    Bytes block(8 + PackedBodyCapacity(size));
    uint32_t length = 0;
    if (PackBody(&raw[at], size, block.data(), DefaultPackThreads(), &length) != PackDone) {
      Fail("a raw body does not pack");
    }
    block.resize(length);
    blocks.push_back(std::move(block));
    at += size;
  }
  Bytes file;
  if (divided) {
    if (blocks.size() != static_cast<size_t>(DivisionCount)) Fail("a divided book takes 64 raw bodies");
    if (!DividedBookBytes(blocks, &file)) Fail("the divided book would pass 2 GiB");
  } else {
    if (blocks.size() != 1) Fail("a single book takes one raw body");
    file = SingleBookBytes(blocks[0]);
  }
  WriteWhole(argv[2], file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "pair") == 0) return Pair(argv + 2);
  if (argc == 4 && std::strcmp(argv[1], "unpack") == 0) return Unpack(argv + 2);
  if (argc == 5 && std::strcmp(argv[1], "repack") == 0) return Repack(argv + 2);
  std::fprintf(stderr,
               "usage: alternatives_tool pair POSITIONS PERCENT single|divided OLD NEW\n"
               "       alternatives_tool unpack BOOK RAW\n"
               "       alternatives_tool repack RAW single|divided BOOK\n");
  return 2;
}
