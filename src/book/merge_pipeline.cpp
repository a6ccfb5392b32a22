// The merge on threads. A single body, on two threads or more:
//
//   caller's thread   unpacks the old body from the file (BodyUnpacker),
//                     telling the loading thread how far it has come;
//   loading thread    reads the diff list first (HeldDiff), then loads the
//                     body as it arrives (BodyLoader) and applies the list
//                     to each bucket as soon as the bucket is whole;
//   -- joined --      the caller decides where the package stands;
//   saving thread     sorts and saves the table into the raw block
//                     (BodySaver), telling the packers how far it has come,
//                     and frees the table;
//   caller + members  pack each 1 MiB chunk as soon as it is saved
//                     (PackRawBody over ordered work).
//
// On one thread the same steps run one after the other. A divided book holds
// one division more than there are threads: the caller reads each
// division's old body and list from the streams, any member merges it on
// one thread, and the caller writes the blocks in division order.
#include <memory>
#include <new>
#include <utility>

#include "book/body_loader.h"
#include "book/body_saver.h"
#include "book/body_unpacker.h"
#include "book/book_body.h"
#include "book/divided_book.h"
#include "book/book_format.h"
#include "book/book_merge.h"
#include "book/held_diff.h"
#include "book/parallel_deflate.h"
#include "book/table_packing.h"
#include "stream/byte_stream.h"
#include "thread/arrived_bytes.h"
#include "thread/ordered_work.h"
#include "thread/worker_thread.h"

namespace {

// --- a single body: unpacking and loading

// The memory a list read early may take: a small share of the body's, so
// that the merge's peak hardly moves.
uint64_t HeldListMost(uint32_t rawSize) { return rawSize / 8 + 64 * 1024; }

// The loading thread: the body's layout lets the table be built front to
// back as the bytes come, so the two take hardly longer than the unpacking
// alone, and the list read first is applied bucket by bucket, each chain
// checked before it is changed, so that the table is up to date once the
// body has unpacked. A list longer than a small share of the body is not
// held (memory): it is left to the caller.
class LoadingThread {
 public:
  enum class List {
    Unread,   // not read: it is the caller's to apply
    Held,     // read whole and applied as far as the table allowed
    Dropped,  // too long to hold, or memory ran out: the package stands inside it
  };

  // The package may be null: the list is then left to the caller.
  LoadingThread(ByteStream* package, const uint8_t* body, uint32_t size)
      : package_(package), body_(body), size_(size) {}
  LoadingThread(const LoadingThread&) = delete;
  LoadingThread& operator=(const LoadingThread&) = delete;
  ~LoadingThread() { Finish(); }

  // False when no thread can be had; nothing has been read then.
  bool Start() {
    if (!arrived_.Open()) return false;
    thread_ = StartWorkerThread(Run, this);
    return thread_ != nullptr;
  }

  // The first `produced` bytes of the body are there.
  void Unpacked(uint32_t produced) { arrived_.Arrived(produced); }

  // No more bytes will come: waits for the thread and hands over its table,
  // null when the body stopped short or is damaged.
  JosekiTablePtr Finish() {
    if (thread_ == nullptr) return nullptr;
    arrived_.Ended();
    JoinWorkerThread(thread_);
    thread_ = nullptr;
    JosekiTablePtr table(table_);
    table_ = nullptr;
    return table;
  }

  // Once finished: the list's fate, and whether a chain was found out of
  // order (nothing was applied to it or behind it) or a put was refused.
  List ListState() const { return list_; }
  bool Disordered() const { return disordered_; }
  bool Refused() const { return refused_; }

 private:
  static void Run(void* context) { static_cast<LoadingThread*>(context)->Load(); }

  void Load() {
    if (package_ != nullptr) list_ = diff_.Read(package_, HeldListMost(size_)) ? List::Held : List::Dropped;
    BodyLoader loader(body_, size_);
    uint32_t there = 0;
    for (;;) {
      const int32_t state = loader.Feed(there);
      if (loader.Table() != nullptr) ApplyWhole(loader.Table(), loader.WholeBuckets());
      if (state == LoadDone) table_ = loader.Take().release();
      if (state != LoadGoing) return;
      const uint32_t more = arrived_.Await(there + 1);
      if (more <= there) return;  // the body stopped short
      there = more;
    }
  }

  // The first `buckets` buckets are whole: the list is applied to them.
  void ApplyWhole(JosekiTable* table, uint32_t buckets) {
    if (list_ != List::Held || disordered_ || refused_) return;
    if (!ordered_) {
      diff_.Order(*table);
      ordered_ = true;
    }
    for (; checked_ < buckets; ++checked_) {
      if (!ChainInOrder(*table, checked_)) {
        disordered_ = true;
        return;
      }
    }
    refused_ = !diff_.ApplyBelow(table, buckets);
  }

  ByteStream* package_;
  const uint8_t* body_;
  uint32_t size_;
  ArrivedBytes arrived_;
  WorkerThread* thread_ = nullptr;
  // The loading thread's alone until it is joined.
  JosekiTable* table_ = nullptr;
  HeldDiff diff_;
  List list_ = List::Unread;
  bool ordered_ = false;
  uint32_t checked_ = 0;  // buckets whose chains were found in order
  bool disordered_ = false;
  bool refused_ = false;
};

// Unpacks the whole body on the caller's thread; true when it all came.
bool UnpackAll(BodyUnpacker* unpacker, LoadingThread* loading) {
  for (;;) {
    const int32_t state = unpacker->Step();
    if (loading != nullptr) loading->Unpacked(unpacker->Produced());
    if (state != UnpackGoing) return state == UnpackDone;
  }
}

// --- a single body: saving and packing

// The bytes the saving thread writes between two word to the packers.
constexpr uint32_t SaveStep = 256 * 1024;

// The saving thread: sorts, saves and frees the table while the caller and
// the packing members pack the chunks already saved.
class SavingThread {
 public:
  SavingThread(uint8_t* raw, uint32_t size) : raw_(raw), size_(size) {}
  SavingThread(const SavingThread&) = delete;
  SavingThread& operator=(const SavingThread&) = delete;
  ~SavingThread() { Finish(); }

  // Starts the thread, which takes the table. False when no thread can be
  // had; the table then stays the caller's.
  bool Start(JosekiTablePtr* table) {
    if (!saved_.Open()) return false;
    table_ = std::move(*table);
    thread_ = StartWorkerThread(Run, this);
    if (thread_ == nullptr) *table = std::move(table_);
    return thread_ != nullptr;
  }

  // The count of saved bytes, for the packers to await.
  ArrivedBytes* SavedBytes() { return &saved_; }

  // Waits for the thread; the save's result, SaveDone or SaveRefused.
  int32_t Finish() {
    if (thread_ != nullptr) {
      JoinWorkerThread(thread_);
      thread_ = nullptr;
    }
    return result_;
  }

 private:
  static void Run(void* context) { static_cast<SavingThread*>(context)->Save(); }

  void Save() {
    BodySaver saver(table_.get(), true);
    uint32_t written = 0;
    int32_t state = SaveGoing;
    while (state == SaveGoing) {
      const uint32_t room = size_ - written < SaveStep ? size_ - written : SaveStep;
      uint32_t length = 0;
      state = saver.Save(raw_ + written, room, &length);
      written += length;
      saved_.Arrived(written);
    }
    result_ = state;
    saved_.Ended();
    table_.reset();  // while the body packs
  }

  uint8_t* raw_;
  uint32_t size_;
  JosekiTablePtr table_;
  ArrivedBytes saved_;
  WorkerThread* thread_ = nullptr;
  int32_t result_ = SaveRefused;  // the saving thread's until it is joined
};

int32_t TableResult(int32_t packed) {
  if (packed == PackDone) return TablePacked;
  return packed == PackNoMemory ? TableNoMemory : TablePackFailed;
}

}  // namespace

int32_t PackTableBody(JosekiTablePtr table, ByteBlock* raw, ByteBlock* body, uint32_t* bodyLength,
                      int32_t threads, const PackProgress* progress) {
  *bodyLength = 0;
  const uint32_t size =
      RawBodySize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                  static_cast<uint32_t>(table->moveCount));
  if (size == 0xFFFFFFFF) return TableTooLarge;
  if (!raw->Reserve(size)) return TableNoMemory;
  const uint32_t capacity = PackedBodyCapacity(size);
  if (capacity == 0) return TableTooLarge;

  // With threads to spare, the body packs while the table is saved.
  SavingThread saving(raw->bytes.get(), size);
  if (PackThreads(threads) > 1 && body->Reserve(BodyCountsSize + static_cast<uint64_t>(capacity)) &&
      saving.Start(&table)) {
    const int32_t packed = PackBody(raw->bytes.get(), size, body->bytes.get(), threads, bodyLength,
                                    saving.SavedBytes(), progress);
    if (saving.Finish() != SaveDone) {
      *bodyLength = 0;
      return TableNotStorable;
    }
    return TableResult(packed);
  }

  BodySaver saver(table.get(), true);
  uint32_t written = 0;
  if (saver.Save(raw->bytes.get(), size, &written) != SaveDone) return TableNotStorable;
  table.reset();
  if (!body->Reserve(BodyCountsSize + static_cast<uint64_t>(capacity))) return TableNoMemory;
  return TableResult(
      PackBody(raw->bytes.get(), size, body->bytes.get(), threads, bodyLength, nullptr, progress));
}

uint32_t MergeBookBody(ByteStream* package, ByteStream* oldFile, MergeRoom* room, int32_t threads) {
  BodyUnpacker unpacker(oldFile, &room->raw);
  const uint32_t rawSize = unpacker.Open();
  if (rawSize == 0) return MergeFailed;

  // With threads to spare, and a block that will not move under the loader,
  // the table is built and brought up to date while the old body unpacks,
  // from a list read early.
  JosekiTablePtr table;
  bool held = false;
  const int32_t listStart = package->Tell();
  LoadingThread loading(listStart >= 0 ? package : nullptr, unpacker.RawBytes(), rawSize);
  if (PackThreads(threads) > 1 && unpacker.Settled() && loading.Start()) {
    const bool unpacked = UnpackAll(&unpacker, &loading);
    table = loading.Finish();
    held = loading.ListState() == LoadingThread::List::Held;
    // A list that could not be held, or a merge that failed before the
    // list's turn came: the package goes back to where the list starts.
    const bool failedBeforeList = !unpacked || !table || loading.Disordered();
    if (loading.ListState() == LoadingThread::List::Dropped || (held && failedBeforeList)) {
      package->Seek(listStart, false);
    }
    if (!unpacked || !table) return MergeFailed;
    if (held && (loading.Disordered() || loading.Refused())) return MergeFailed;
  } else {
    // Before the list's turn, a failure leaves the package untouched.
    if (!UnpackAll(&unpacker, nullptr)) return MergeFailed;
    table.reset(LoadJosekiTable(room->raw.bytes.get(), rawSize));
    if (!table) return MergeFailed;
  }

  if (!held) {
    // A position out of its place could be searched for in vain and then
    // put a second time; such a book is left as it is rather than made worse.
    if (!ChainsInOrder(*table)) return MergeFailed;
    // A refused put leaves the package behind the list, read through.
    if (!ApplyBookDiff(package, table.get())) return MergeFailed;
  }

  uint32_t bodyLength = 0;
  if (PackTableBody(std::move(table), &room->raw, &room->body, &bodyLength, threads) != TablePacked) {
    return MergeFailed;
  }
  return bodyLength;
}

// --- a divided book

namespace {

// Divisions merged on several threads at once and written strictly in
// division order, each slot with a division's old body, its list and the
// room to merge it in. The file streams stay on the caller's thread: it
// reads what a division needs before handing it over (Prepare), and writes
// the result (Take); the members merge from memory only (Do).
class DivisionWork : public OrderedWork {
 public:
  DivisionWork(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, const DividedLayout& old,
               uint32_t* newOffsets)
      : package_(package), oldFile_(oldFile), newFile_(newFile), old_(old), newOffsets_(newOffsets) {}

  bool Start(uint32_t members) {
    slots_.reset(new (std::nothrow) Slot[OrderedWorkSlots(members)]);
    return slots_ != nullptr;
  }

  // The old body, counts and packed bytes, and the division's list.
  bool Prepare(uint32_t k, uint32_t at) override {
    Slot& slot = slots_[at];
    slot.listStart = package_->Tell();
    if (!ReadOldBody(k, &slot) || !CopyBookDiff(package_, &slot.list, &slot.listLength)) {
      package_->Seek(slot.listStart, false);
      return false;
    }
    slot.listEnd = package_->Tell();
    return true;
  }

  void Do(uint32_t, uint32_t at) override {
    Slot& slot = slots_[at];
    MemoryStream list, old;
    list.Attach(slot.list.bytes.get(), slot.listLength, true);
    old.Attach(slot.old.bytes.get(), slot.oldLength, true);
    slot.merged = MergeBookBody(&list, &old, &slot.room, 1);
    slot.listRead = list.Tell() > 0;
  }

  // A division that fails leaves the package where a merge of one division
  // after the other would have: behind the division's list once the merge
  // read it, else before it.
  bool Take(uint32_t k, uint32_t at) override {
    const Slot& slot = slots_[at];
    if (slot.merged == MergeFailed ||
        !WriteDivisionBlock(newFile_, slot.room.body.bytes.get(), slot.merged, newOffsets_[k], &newOffsets_[k + 1])) {
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

  // A body that claims more bytes than the file holds is not read: the
  // merge of the division fails on it all the same.
  bool ReadOldBody(uint32_t k, Slot* slot) {
    // At most 8 + HeldBodyMost bytes, and within the file.
    const uint64_t length = BodyCountsSize + uint64_t{old_.packedSizes[k]};
    if (old_.offsets[k] + length > static_cast<uint64_t>(old_.length)) return false;
    if (!slot->old.Reserve(length)) return false;
    if (oldFile_->Seek(static_cast<int32_t>(old_.offsets[k]), false) != 0 ||
        oldFile_->Read(slot->old.bytes.get(), static_cast<int32_t>(length)) != static_cast<int32_t>(length)) {
      return false;
    }
    slot->oldLength = static_cast<uint32_t>(length);
    return true;
  }

  ByteStream* package_;
  ByteStream* oldFile_;
  ByteStream* newFile_;
  const DividedLayout& old_;
  uint32_t* newOffsets_;
  std::unique_ptr<Slot[]> slots_;
};

// The divisions in order: a failed division ends the merge, since the lists
// behind it would be read for the wrong divisions. Held in memory, one more
// than there are threads, they are merged on several threads at once;
// otherwise one after the other on the caller's thread, each merged straight
// from the streams (a large body on every thread), so that no division's
// packed bytes are held. The package then stands where the failed merge
// left it.
bool MergeDivisions(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, const DividedLayout& old,
                    uint32_t* newOffsets, int32_t threads) {
  const uint32_t members = static_cast<uint32_t>(PackThreads(threads));
  if (old.allSmall && members > 1) {
    DivisionWork work(package, oldFile, newFile, old, newOffsets);
    return work.Start(members) && RunOrderedWork(&work, DivisionCount, members);
  }
  MergeRoom room;
  for (int32_t k = 0; k < DivisionCount; ++k) {
    if (oldFile->Seek(static_cast<int32_t>(old.offsets[k]), false) != 0) return false;
    const uint32_t merged = MergeBookBody(package, oldFile, &room, threads);
    if (merged == MergeFailed ||
        !WriteDivisionBlock(newFile, room.body.bytes.get(), merged, newOffsets[k], &newOffsets[k + 1])) {
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t MergeDividedBook(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, int32_t threads) {
  DividedLayout old;
  if (!ReadDividedLayout(oldFile, &old) || !StartDividedFile(newFile, old)) return DividedMergeFailed;
  uint32_t newOffsets[DivisionCount + 1];
  newOffsets[0] = old.offsets[0];
  package->ReadU32();  // a word that carries nothing
  if (!MergeDivisions(package, oldFile, newFile, old, newOffsets, threads)) return DividedMergeFailed;
  return FinishDividedFile(newFile, newOffsets) ? 0 : DividedMergeFailed;
}
