// MergeDividedBook on a fuzzed divided file and a fuzzed package.
#include "book/book_body.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

namespace {

using fuzz::Bytes;

// The raw bytes that divisions sharing blocks may claim in all.
constexpr uint64_t SharedRawBudget = 64 * 1024 * 1024;

// A well-formed divided file whose divisions hold the raw bodies taken from
// the input in turn; a division the input runs out for gets an empty table.
Bytes BuildDividedFile(const uint8_t* data, size_t size) {
  Bytes file(DividedBookMagic, DividedBookMagic + 8);
  file.resize(DividedFirstBlock);
  static const uint8_t emptyBody[18] = {1};  // one bucket, no nodes
  for (int32_t k = 0; k < DivisionCount; ++k) {
    size_t length = fuzz::TakeU16(&data, &size);
    if (length > size) length = size;
    const Bytes block =
        length > 0 ? fuzz::PackBody(data, length) : fuzz::PackBody(emptyBody, sizeof emptyBody);
    data += length, size -= length;
    const uint32_t offset = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i)
      file[DividedTableOffset + 4 * k + i] = static_cast<uint8_t>(offset >> (8 * i));
    file.insert(file.end(), block.begin(), block.end());
    while (file.size() % 4 != 0) file.push_back(0);
  }
  return file;
}

}  // namespace

int FuzzDividedBook(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint8_t mode = data[0];
  ++data, --size;
  size_t oldLength = fuzz::TakeU32(&data, &size);
  if (oldLength > size) oldLength = size;
  Bytes old = (mode & 1) != 0 ? BuildDividedFile(data, oldLength) : Bytes(data, data + oldLength);
  // Divisions that share a block are merged as any others; only the costly
  // ones are left to the benchmark, so that an input keeps within a second.
  if (fuzz::SharesCostlyBlocks(old, SharedRawBudget)) return 0;
  fuzz::VectorStream oldFile(old, true);
  fuzz::VectorStream package(Bytes(data + oldLength, data + size), true);
  fuzz::VectorStream newFile;
  // Both files stand behind their magics, as the entry leaves them.
  oldFile.Seek(old.size() < 8 ? static_cast<int32_t>(old.size()) : 8, false);
  newFile.Write(DividedBookMagic, 8);

  const int32_t result = MergeDividedBook(&package, &oldFile, &newFile);
  const Bytes& made = newFile.bytes();
  if (result != 0) {
    FUZZ_CHECK(result == DividedMergeFailed);
    // A failed merge never leaves a table that points anywhere.
    for (size_t i = DividedTableOffset; i < made.size() && i < DividedFirstBlock; ++i)
      FUZZ_CHECK(made[i] == 0);
    return 0;
  }
  FUZZ_CHECK(made.size() >= DividedFirstBlock);
  FUZZ_CHECK(newFile.Tell() == static_cast<int32_t>(made.size()));
  FUZZ_CHECK(fuzz::GetU32(made.data() + DividedTableOffset) == fuzz::GetU32(old.data() + DividedTableOffset));
  for (int32_t k = 0; k < DivisionCount; ++k) {
    const size_t offset = fuzz::GetU32(made.data() + DividedTableOffset + 4 * k);
    size_t end = 0;
    JosekiTablePtr table = fuzz::LoadBody(made, offset, &end);
    FUZZ_CHECK(table != nullptr);
    if (!table) return 0;
    FUZZ_CHECK(fuzz::SortedAndCounted(*table));
    const size_t next =
        k + 1 < DivisionCount ? fuzz::GetU32(made.data() + DividedTableOffset + 4 * (k + 1)) : made.size();
    // Each block is padded to a multiple of 4 and the next follows at once.
    FUZZ_CHECK(next == offset + ((end - offset + 3) & ~size_t{3}));
  }
  return 0;
}
