#include "book/divided_book.h"

#include <cstdint>
#include <memory>
#include <new>

#include "book/book_merge.h"
#include "book/ordered_work.h"
#include "book/parallel_deflate.h"
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
bool ReadOldOffsets(ByteStream* oldFile, uint32_t* offsets, int64_t* length) {
  uint8_t table[TableBytes];
  if (oldFile->Seek(DividedTableOffset, false) != 0) return false;
  if (oldFile->Read(table, TableBytes) != static_cast<int32_t>(TableBytes)) return false;
  *length = StreamLength(oldFile);
  if (*length < 0) return false;
  for (int32_t k = 0; k < DivisionCount; ++k) {
    offsets[k] = LoadU32(table + 4 * k);
    if (static_cast<int64_t>(offsets[k]) + BodyCountsBytes > *length) return false;
  }
  return offsets[0] >= DividedFirstBlock;
}

// A division whose old body packs to more than this is not held in memory:
// the book is then merged one division after the other, each old body
// unpacked straight from the file, as a single book is.
constexpr uint32_t HeldBodyMost = 16 * 1024 * 1024;

// Reads every division's packedSize; true when each is at most HeldBodyMost
// bytes. Leaves oldFile anywhere.
bool AllBodiesSmall(ByteStream* oldFile, const uint32_t* offsets, uint32_t* packedSizes) {
  for (int32_t k = 0; k < DivisionCount; ++k) {
    uint8_t counts[4];
    if (oldFile->Seek(static_cast<int32_t>(offsets[k]), false) != 0 || oldFile->Read(counts, 4) != 4) {
      return false;
    }
    packedSizes[k] = LoadU32(counts);
    if (packedSizes[k] > HeldBodyMost) return false;
  }
  return true;
}

// Divisions merged on several threads at once and written strictly in
// division order, each slot with a division's old body, its list and the
// room to merge it in. The file streams stay on the caller's thread: it
// reads what a division needs before handing it over, and writes the result.
// Held in one member, the caller alone, the divisions are instead merged
// straight from the streams.
class DivisionWork : public OrderedWork {
 public:
  // packedSizes and oldLength (the old file's) are needed only when the
  // divisions are held in memory.
  DivisionWork(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, const uint32_t* oldOffsets,
               const uint32_t* packedSizes, int64_t oldLength, uint32_t* newOffsets)
      : package_(package),
        oldFile_(oldFile),
        newFile_(newFile),
        oldOffsets_(oldOffsets),
        packedSizes_(packedSizes),
        oldLength_(oldLength),
        newOffsets_(newOffsets) {}

  bool Start(uint32_t members) {
    slots_.reset(new (std::nothrow) Slot[OrderedWorkSlots(members)]);
    streamed_ = members == 1;
    return slots_ != nullptr;
  }

  // The old body, counts and packed bytes, and the division's list. A body
  // that claims more bytes than the file holds is not read: the merge of a
  // division fails on it all the same.
  bool Prepare(uint32_t k, uint32_t at) override {
    Slot& slot = slots_[at];
    slot.listStart = package_->Tell();
    if (streamed_) return oldFile_->Seek(static_cast<int32_t>(oldOffsets_[k]), false) == 0;
    if (!ReadOldBody(k, &slot) || !CopyBookDiff(package_, &slot.list, &slot.listLength)) {
      package_->Seek(slot.listStart, false);
      return false;
    }
    slot.listEnd = package_->Tell();
    return true;
  }

  void Do(uint32_t, uint32_t at) override {
    Slot& slot = slots_[at];
    if (streamed_) {  // on the caller's thread
      slot.merged = MergeBookBody(package_, oldFile_, &slot.room, 0);
      slot.listEnd = package_->Tell();
      slot.listRead = slot.listEnd != slot.listStart;
      return;
    }
    MemoryStream list, old;
    list.Attach(slot.list.bytes.get(), slot.listLength, true);
    old.Attach(slot.old.bytes.get(), slot.oldLength, true);
    slot.merged = MergeBookBody(&list, &old, &slot.room, 1);
    slot.listRead = list.Tell() > 0;
  }

  // Each block is padded to a multiple of 4 bytes. A division that fails
  // leaves the package where a merge of one division after the other would
  // have: behind the division's list once the merge read it, else before it.
  bool Take(uint32_t k, uint32_t at) override {
    const Slot& slot = slots_[at];
    if (!WriteBlock(k, slot)) {
      package_->Seek(slot.listRead ? slot.listEnd : slot.listStart, false);
      return false;
    }
    return true;
  }

 private:
  struct Slot {
    ByteBlock old;
    uint32_t oldLength = 0;
    ByteBlock list;
    uint32_t listLength = 0;
    int32_t listStart = 0;  // the package's positions around the list
    int32_t listEnd = 0;
    MergeRoom room;
    uint32_t merged = MergeFailed;
    bool listRead = false;  // the merge got as far as the list
  };

  // The old body, counts and packed bytes. A body that claims more bytes than
  // the file holds is not read: the merge of the division fails on it all
  // the same.
  bool ReadOldBody(uint32_t k, Slot* slot) {
    // At most 8 + HeldBodyMost bytes, and within the file.
    const uint64_t length = BodyCountsBytes + uint64_t{packedSizes_[k]};
    if (oldOffsets_[k] + length > static_cast<uint64_t>(oldLength_)) return false;
    if (!slot->old.Reserve(length)) return false;
    if (oldFile_->Seek(static_cast<int32_t>(oldOffsets_[k]), false) != 0 ||
        oldFile_->Read(slot->old.bytes.get(), static_cast<int32_t>(length)) != static_cast<int32_t>(length)) {
      return false;
    }
    slot->oldLength = static_cast<uint32_t>(length);
    return true;
  }

  bool WriteBlock(uint32_t k, const Slot& slot) {
    if (slot.merged == MergeFailed) return false;
    const int32_t written = newFile_->Write(slot.room.body.bytes.get(), static_cast<int32_t>(slot.merged));
    if (written != static_cast<int32_t>(slot.merged)) return false;
    const uint32_t length = (slot.merged + 3) & ~3u;
    if (!WriteZeros(newFile_, length - slot.merged)) return false;
    const uint64_t next = static_cast<uint64_t>(newOffsets_[k]) + length;
    if (next > INT32_MAX) return false;  // beyond what Seek can reach
    newOffsets_[k + 1] = static_cast<uint32_t>(next);
    return true;
  }

  ByteStream* package_;
  ByteStream* oldFile_;
  ByteStream* newFile_;
  const uint32_t* oldOffsets_;
  const uint32_t* packedSizes_;
  int64_t oldLength_;
  uint32_t* newOffsets_;
  std::unique_ptr<Slot[]> slots_;
  bool streamed_ = false;
};

}  // namespace

int32_t MergeDividedBook(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  uint32_t oldOffsets[DivisionCount];
  int64_t oldLength = 0;
  if (!ReadOldOffsets(oldFile, oldOffsets, &oldLength)) return DividedMergeFailed;

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

  // A few divisions are in memory at a time, one more than the threads; the
  // new blocks are written one behind the other, so newFile needs no seeking
  // between them. A failed division ends the merge: the lists behind it
  // would be read for the wrong divisions.
  uint32_t packedSizes[DivisionCount];
  const uint32_t members =
      AllBodiesSmall(oldFile, oldOffsets, packedSizes) ? static_cast<uint32_t>(PackThreads(0)) : 1;
  DivisionWork work(package, oldFile, newFile, oldOffsets, packedSizes, oldLength, newOffsets);
  if (!work.Start(members) || !RunOrderedWork(&work, DivisionCount, members)) return DividedMergeFailed;
  uint8_t table[TableBytes];
  for (int32_t k = 0; k < DivisionCount; ++k) StoreU32(table + 4 * k, newOffsets[k]);
  if (newFile->Seek(DividedTableOffset, false) != 0) return DividedMergeFailed;
  if (newFile->Write(table, TableBytes) != static_cast<int32_t>(TableBytes)) return DividedMergeFailed;
  if (newFile->Seek(static_cast<int32_t>(newOffsets[DivisionCount]), false) != 0) {
    return DividedMergeFailed;
  }
  return 0;
}
