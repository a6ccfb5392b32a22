// The readers of outside data with their size fields taken from the input and
// the bytes behind them mostly absent: the old file or the script is a
// LargeStream whose length the input gives, up to 4 GiB.
#include <zlib.h>

#include "book/book_body.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/large_stream.h"
#include "package/memory_package_files.h"
#include "package/package_entries.h"
#include "package/update_package.h"

namespace {

using fuzz::Bytes;
using fuzz::LargeStream;
using fuzz::TakeU16;
using fuzz::TakeU32;

constexpr uint32_t BodyCounts = 8;
constexpr uint32_t MostGapWritten = 64 * 1024 * 1024;
constexpr uint64_t MostSharedRaw = 64 * 1024 * 1024;  // claimed by divisions sharing blocks

void PutU32At(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// u16 L and L bytes from the input: the bytes as they stand, or the zlib
// stream they compress to, so that the claims meet a stream that unpacks.
Bytes TakeFront(const uint8_t** data, size_t* size, bool packed) {
  size_t length = TakeU16(data, size);
  if (length > *size) length = *size;
  Bytes front(*data, *data + length);
  *data += length, *size -= length;
  if (!packed) return front;
  uLongf packedLength = compressBound(front.size());
  Bytes stream(packedLength);
  if (compress(stream.data(), &packedLength, front.data(), front.size()) != Z_OK) return Bytes();
  stream.resize(packedLength);
  return stream;
}

void CheckMergedBody(uint32_t written, const fuzz::VectorStream& newFile) {
  if (written == MergeFailed) {
    FUZZ_CHECK(newFile.bytes().empty());
    return;
  }
  FUZZ_CHECK(written == newFile.bytes().size());
  size_t end = 0;
  JosekiTablePtr table = fuzz::LoadBody(newFile.bytes(), 0, &end);
  FUZZ_CHECK(table != nullptr && end == written);
}

// u32 packedSize, u32 rawSize, u32 length of the old file behind its magic,
// the front of the packed bytes, then the package.
void SingleBody(const uint8_t* data, size_t size, unsigned flags) {
  const uint32_t packedSize = TakeU32(&data, &size);
  const uint32_t rawSize = TakeU32(&data, &size);
  const uint32_t length = TakeU32(&data, &size);
  Bytes held(BodyCounts);
  PutU32At(&held, 0, packedSize);
  PutU32At(&held, 4, rawSize);
  const Bytes front = TakeFront(&data, &size, (flags & 1) != 0);
  held.insert(held.end(), front.begin(), front.end());
  const uint64_t heldSize = held.size();
  LargeStream oldFile(std::move(held), length > heldSize ? length : heldSize,
                      (flags & 4) != 0 ? LargeStream::LikeMemory : LargeStream::LikeFile);
  fuzz::VectorStream package(Bytes(data, data + size), true);
  fuzz::VectorStream newFile;
  CheckMergedBody(MergeBookDiff(&package, &oldFile, &newFile), newFile);
}

// u32 length of the whole file, the 64 offsets, u8 n and n blocks (u32
// packedSize, u32 rawSize, a front) laid one behind the other from 264;
// with flag 2 the first n offsets name those blocks. Then the package.
void DividedBook(const uint8_t* data, size_t size, unsigned flags) {
  const uint32_t length = TakeU32(&data, &size);
  Bytes held(DividedBookMagic, DividedBookMagic + 8);
  held.resize(DividedFirstBlock);
  for (int32_t k = 0; k < DivisionCount; ++k)
    PutU32At(&held, DividedTableOffset + 4 * k, TakeU32(&data, &size));
  const uint32_t blocks = size > 0 ? *data % (DivisionCount + 1) : 0;
  if (size > 0) ++data, --size;
  for (uint32_t k = 0; k < blocks; ++k) {
    const size_t at = held.size();
    if ((flags & 2) != 0) PutU32At(&held, DividedTableOffset + 4 * k, static_cast<uint32_t>(at));
    held.resize(at + BodyCounts);
    PutU32At(&held, at, TakeU32(&data, &size));
    PutU32At(&held, at + 4, TakeU32(&data, &size));
    const Bytes front = TakeFront(&data, &size, (flags & 1) != 0);
    held.insert(held.end(), front.begin(), front.end());
    while (held.size() % 4 != 0) held.push_back(0);
  }
  const uint64_t heldSize = held.size();
  const uint64_t fileLength = length > heldSize ? length : heldSize;
  // The new file's first block keeps the old first offset, behind zeros
  // written for the gap: an input whose gap is real measures that writing,
  // not a size check.
  const uint32_t first = fuzz::GetU32(held.data() + DividedTableOffset);
  if (first > DividedFirstBlock + MostGapWritten && first + uint64_t{BodyCounts} <= fileLength) return;
  // Divisions sharing a block unpack it once each; the costly ones are left
  // to the benchmark.
  if (fuzz::SharesCostlyBlocks(held, MostSharedRaw)) return;
  LargeStream oldFile(std::move(held), fileLength,
                      (flags & 4) != 0 ? LargeStream::LikeMemory : LargeStream::LikeFile);
  oldFile.Seek(DividedTableOffset, false);
  fuzz::VectorStream package(Bytes(data, data + size), true);
  fuzz::VectorStream newFile;
  newFile.Write(DividedBookMagic, 8);
  const int32_t result = MergeDividedBook(&package, &oldFile, &newFile);
  FUZZ_CHECK(result == 0 || result == DividedMergeFailed);
  const Bytes& made = newFile.bytes();
  if (result != 0) {
    for (size_t i = DividedTableOffset; i < made.size() && i < DividedFirstBlock; ++i)
      FUZZ_CHECK(made[i] == 0);
    return;
  }
  for (int32_t k = 0; k < DivisionCount; ++k) {
    FUZZ_CHECK(fuzz::LoadBody(made, fuzz::GetU32(made.data() + DividedTableOffset + 4 * k)) != nullptr);
  }
}

// u32 bucketCount, u32 nodeCount, u32 moveCount, u32 length of the stream,
// then the records. The body in memory and the body read from the stream
// load alike.
void RawBody(const uint8_t* data, size_t size) {
  Bytes raw(12);
  for (int i = 0; i < 3; ++i) PutU32At(&raw, 4 * i, TakeU32(&data, &size));
  const uint32_t length = TakeU32(&data, &size);
  raw.insert(raw.end(), data, data + size);
  JosekiTablePtr loaded(LoadJosekiTable(raw.data(), static_cast<uint32_t>(raw.size())));
  const uint64_t rawSize = raw.size();
  LargeStream stream(raw, length > rawSize ? length : rawSize, LargeStream::LikeMemory);
  JosekiTablePtr streamed(ReadJosekiTable(&stream));
  if (loaded && stream.length() == rawSize) {
    FUZZ_CHECK(streamed != nullptr && fuzz::SameTables(*loaded, *streamed));
  }
  if (!streamed) return;
  const uint32_t size32 =
      RawBodySize(static_cast<uint32_t>(streamed->bucketCount), static_cast<uint32_t>(streamed->nodeCount),
                  static_cast<uint32_t>(streamed->moveCount));
  FUZZ_CHECK(size32 <= static_cast<uint32_t>(stream.Tell()));
}

// A KindFile payload that really fits is copied through a block of its own
// size: beyond this the input would measure memory, not a size check.
constexpr uint64_t MostPayloadCopied = 64 * 1024 * 1024;

// True when an entry of the held script carries a payload that fits a script
// of `length` bytes and is larger than MostPayloadCopied.
bool CopiesALargePayload(const Bytes& script, uint64_t length) {
  size_t at = 0;
  auto u32 = [&](size_t p) { return p + 4 <= script.size() ? fuzz::GetU32(script.data() + p) : 0u; };
  for (;;) {
    if (at + 5 > script.size()) return false;
    const uint32_t kind = u32(at);
    if (kind != KindFile) return false;  // a book entry's list ends the scan
    at += 4;
    for (int name = 0; name < 2; ++name) {
      if (at >= script.size() || script[at] == 0) return false;
      at += 1 + script[at];
    }
    const uint64_t payload = u32(at);
    if (at + 4 + payload <= length && payload > MostPayloadCopied) return true;
    at += 4 + payload;
  }
}

// u32 length of the script, then its front. Applied to a folder in memory.
void PackageScript(const uint8_t* data, size_t size, unsigned flags) {
  const uint32_t length = TakeU32(&data, &size);
  Bytes held(data, data + size);
  const uint64_t heldSize = held.size();
  const uint64_t scriptLength = length > heldSize ? length : heldSize;
  if (CopiesALargePayload(held, scriptLength)) return;
  LargeStream script(std::move(held), scriptLength,
                     (flags & 4) != 0 ? LargeStream::LikeFile : LargeStream::LikeMemory);
  MemoryPackageFiles files;
  ApplyReport report;
  const int32_t result = ApplyPackageEntries(&script, "", &report, &files);
  FUZZ_CHECK((result == ApplyOk) == (report.cause == nullptr));
}

}  // namespace

int FuzzLargeSizes(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned selector = data[0];
  ++data, --size;
  const unsigned flags = selector >> 2;
  switch (selector & 3) {
    case 0:
      SingleBody(data, size, flags);
      break;
    case 1:
      DividedBook(data, size, flags);
      break;
    case 2:
      RawBody(data, size);
      break;
    default:
      PackageScript(data, size, flags);
      break;
  }
  return 0;
}
