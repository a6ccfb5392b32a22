#include "book/divided_book.h"

#include <cstdint>

#include "book/book_merge.h"
#include "stream/byte_stream.h"

const uint8_t DividedBookMagic[8] = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};

namespace {

constexpr uint32_t TableBytes = 4 * DivisionCount;
constexpr uint32_t BodyCountsBytes = 8;  // packedSize and rawSize of a block

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
bool ReadOldOffsets(ByteStream* oldFile, uint32_t* offsets) {
  uint8_t table[TableBytes];
  if (oldFile->Seek(DividedTableOffset, false) != 0) return false;
  if (oldFile->Read(table, TableBytes) != static_cast<int32_t>(TableBytes)) return false;
  const int64_t length = StreamLength(oldFile);
  if (length < 0) return false;
  for (int32_t k = 0; k < DivisionCount; ++k) {
    offsets[k] = LoadU32(table + 4 * k);
    if (static_cast<int64_t>(offsets[k]) + BodyCountsBytes > length) return false;
  }
  return offsets[0] >= DividedFirstBlock;
}

}  // namespace

int32_t MergeDividedBook(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  uint32_t oldOffsets[DivisionCount];
  if (!ReadOldOffsets(oldFile, oldOffsets)) return DividedMergeFailed;

  // The table is reserved with zeros and filled in at the end, so that no
  // division's new size is needed before it is written. The table always
  // stands at offset 8, where readers look for it; the first block keeps the
  // old first offset, behind zeros when that lies past the table.
  if (newFile->Seek(DividedTableOffset, false) != 0) return DividedMergeFailed;
  if (!WriteZeros(newFile, TableBytes + (oldOffsets[0] - DividedFirstBlock))) {
    return DividedMergeFailed;
  }

  uint32_t newOffsets[DivisionCount + 1];
  newOffsets[0] = oldOffsets[0];
  package->ReadU32();  // a word that carries nothing

  // Each division goes through the merge completely before the next starts,
  // so only one division's table is in memory at a time. The new blocks are
  // written one behind the other, so newFile needs no seeking between them.
  for (int32_t k = 0; k < DivisionCount; ++k) {
    if (oldFile->Seek(static_cast<int32_t>(oldOffsets[k]), false) != 0) return DividedMergeFailed;
    const uint32_t written = MergeBookDiff(package, oldFile, newFile);
    // A failed division must not be taken as a length: the lists behind it
    // would be read for the wrong divisions.
    if (written == MergeFailed) return DividedMergeFailed;
    const uint32_t length = (written + 3) & ~3u;
    if (!WriteZeros(newFile, length - written)) return DividedMergeFailed;
    const uint64_t next = static_cast<uint64_t>(newOffsets[k]) + length;
    if (next > INT32_MAX) return DividedMergeFailed;  // beyond what Seek can reach
    newOffsets[k + 1] = static_cast<uint32_t>(next);
  }

  uint8_t table[TableBytes];
  for (int32_t k = 0; k < DivisionCount; ++k) StoreU32(table + 4 * k, newOffsets[k]);
  if (newFile->Seek(DividedTableOffset, false) != 0) return DividedMergeFailed;
  if (newFile->Write(table, TableBytes) != static_cast<int32_t>(TableBytes)) return DividedMergeFailed;
  if (newFile->Seek(static_cast<int32_t>(newOffsets[DivisionCount]), false) != 0) {
    return DividedMergeFailed;
  }
  return 0;
}
