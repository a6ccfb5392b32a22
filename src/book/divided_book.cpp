#include "book/divided_book.h"

#include <cstdint>

#include "stream/byte_stream.h"

namespace {

// The length of the stream, or -1 when it cannot tell. Leaves the position at
// the end.
int64_t StreamLength(ByteStream* stream) {
  if (stream->Seek(0, true) != 0) return -1;
  return stream->Tell();
}

bool WriteZeros(ByteStream* stream, uint32_t count) {
  static const uint8_t zeros[4096] = {};
  while (count > 0) {
    const uint32_t run = count < sizeof zeros ? count : static_cast<uint32_t>(sizeof zeros);
    if (stream->Write(zeros, static_cast<int32_t>(run)) != static_cast<int32_t>(run)) return false;
    count -= run;
  }
  return true;
}

// Reads the old offset table and checks every offset against the old file
// before anything is written: the first block must stand behind the table,
// and every block must at least have room for its two counts. Divisions may
// name one block or overlapping ones: each is read wherever its offset says.
// Each division's work is bounded by its own body (the unpacking refuses more
// than 1032 raw bytes per packed byte), so the whole stays within 64 times
// that, linear in the file.
bool ReadOffsets(ByteStream* oldFile, DividedLayout* old) {
  uint8_t table[DividedTableSize];
  if (oldFile->Seek(DividedTableOffset, false) != 0) return false;
  if (oldFile->Read(table, DividedTableSize) != static_cast<int32_t>(DividedTableSize)) return false;
  old->length = StreamLength(oldFile);
  if (old->length < 0) return false;
  for (int32_t k = 0; k < DivisionCount; ++k) {
    old->offsets[k] = LoadU32(table + 4 * k);
    if (static_cast<int64_t>(old->offsets[k]) + BodyCountsSize > old->length) return false;
  }
  return old->offsets[0] >= DividedFirstBlock;
}

// Reads every division's packedSize; true when each is at most HeldBodyMost
// bytes. Leaves oldFile anywhere.
bool AllBodiesSmall(ByteStream* oldFile, DividedLayout* old) {
  for (int32_t k = 0; k < DivisionCount; ++k) {
    uint8_t counts[4];
    if (oldFile->Seek(static_cast<int32_t>(old->offsets[k]), false) != 0 || oldFile->Read(counts, 4) != 4) {
      return false;
    }
    old->packedSizes[k] = LoadU32(counts);
    if (old->packedSizes[k] > HeldBodyMost) return false;
  }
  return true;
}

}  // namespace

bool ReadDividedLayout(ByteStream* oldFile, DividedLayout* old) {
  if (!ReadOffsets(oldFile, old)) return false;
  old->allSmall = AllBodiesSmall(oldFile, old);
  return true;
}

bool WriteDivisionBlock(ByteStream* newFile, const uint8_t* block, uint32_t length, uint32_t offset,
                        uint32_t* next) {
  if (newFile->Write(block, static_cast<int32_t>(length)) != static_cast<int32_t>(length)) return false;
  const uint32_t padded = (length + 3) & ~3u;
  if (!WriteZeros(newFile, padded - length)) return false;
  const uint64_t behind = static_cast<uint64_t>(offset) + padded;
  if (behind > INT32_MAX) return false;  // beyond what Seek can reach
  *next = static_cast<uint32_t>(behind);
  return true;
}

bool StartDividedFile(ByteStream* newFile, const DividedLayout& old) {
  // The table is reserved with zeros and filled in at the end, so that no
  // division's new size is needed before it is written. The table always
  // stands at offset 8, where readers look for it; the first block keeps the
  // old first offset, behind zeros when that lies past the table.
  return newFile->Seek(DividedTableOffset, false) == 0 &&
         WriteZeros(newFile, DividedTableSize + (old.offsets[0] - DividedFirstBlock));
}

bool FinishDividedFile(ByteStream* newFile, const uint32_t* newOffsets) {
  uint8_t table[DividedTableSize];
  for (int32_t k = 0; k < DivisionCount; ++k) StoreU32(table + 4 * k, newOffsets[k]);
  if (newFile->Seek(DividedTableOffset, false) != 0) return false;
  if (newFile->Write(table, DividedTableSize) != static_cast<int32_t>(DividedTableSize)) return false;
  return newFile->Seek(static_cast<int32_t>(newOffsets[DivisionCount]), false) == 0;
}
