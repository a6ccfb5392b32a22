// MergeBookDiff on a fuzzed old body and a fuzzed diff list.
#include "book/book_body.h"
#include "book/book_merge.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

int FuzzBookMerge(const uint8_t* data, size_t size) {
  using fuzz::Bytes;
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  ++data, --size;
  size_t oldLength = fuzz::TakeU16(&data, &size);
  if (oldLength > size) oldLength = size;
  Bytes old = (mode & 1) != 0 ? fuzz::PackBody(data, oldLength) : Bytes(data, data + oldLength);
  fuzz::VectorStream oldFile(old, true);
  fuzz::VectorStream package(Bytes(data + oldLength, data + size), true);
  fuzz::VectorStream newFile;

  const uint32_t written = MergeBookDiff(&package, &oldFile, &newFile);
  if (written == MergeFailed) {
    FUZZ_CHECK(newFile.bytes().empty());
    return 0;
  }
  FUZZ_CHECK(written == newFile.bytes().size());
  size_t end = 0;
  JosekiTablePtr table = fuzz::LoadBody(newFile.bytes(), 0, &end);
  FUZZ_CHECK(table != nullptr);
  FUZZ_CHECK(end == written);
  if (table) FUZZ_CHECK(fuzz::SortedAndCounted(*table));
  return 0;
}
