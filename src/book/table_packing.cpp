#include "book/table_packing.h"

#include <utility>

#include "book/book_body.h"
#include "book/book_format.h"
#include "book/parallel_deflate.h"
#include "thread/worker_thread.h"

namespace {

// Sorts, saves and frees the table on a thread of its own while the caller
// packs the body: each chunk is packed as soon as its bytes are written.
class SavingTable : public SaveProgress {
 public:
  SavingTable(uint8_t* raw, uint32_t size) : raw_(raw), size_(size) {}
  SavingTable(const SavingTable&) = delete;
  SavingTable& operator=(const SavingTable&) = delete;
  ~SavingTable() { Finish(); }

  // Starts the saving thread, which takes the table. False when no thread
  // can be had; the table then stays the caller's.
  bool Start(JosekiTablePtr* table) {
    if (!saved_.Open()) return false;
    table_ = std::move(*table);
    thread_ = StartWorkerThread(Run, this);
    if (thread_ == nullptr) *table = std::move(table_);
    return thread_ != nullptr;
  }

  // The bytes saved so far, for the packing to await.
  ByteArrival* SavedBytes() { return &saved_; }

  // Waits for the saving thread; the save's result.
  int32_t Finish() {
    if (thread_ != nullptr) {
      JoinWorkerThread(thread_);
      thread_ = nullptr;
    }
    return result_;
  }

  void Saved(uint32_t length) override { saved_.Arrived(length); }

 private:
  static void Run(void* context) {
    SavingTable* saving = static_cast<SavingTable*>(context);
    saving->result_ = SaveSortedJosekiTable(saving->table_.get(), saving->raw_, saving->size_, saving);
    saving->saved_.Ended();
    saving->table_.reset();  // while the body packs
  }

  uint8_t* raw_;
  uint32_t size_;
  JosekiTablePtr table_;
  ArrivingBytes saved_;
  WorkerThread* thread_ = nullptr;
  int32_t result_ = -1;  // the saving thread's until it is joined
};

}  // namespace

int32_t PackTableBody(JosekiTablePtr table, ByteBlock* raw, ByteBlock* body, uint32_t* bodyLength,
                      int32_t threads) {
  *bodyLength = 0;
  const uint32_t size =
      RawBodySize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                  static_cast<uint32_t>(table->moveCount));
  if (size == 0xFFFFFFFF) return TableTooLarge;
  if (!raw->Reserve(size)) return TableNoMemory;
  const uint32_t capacity = PackedBodyCapacity(size);
  if (capacity == 0) return TableTooLarge;

  // With threads to spare, the body packs while the table is saved.
  SavingTable saving(raw->bytes.get(), size);
  if (PackThreads(threads) > 1 && body->Reserve(8 + static_cast<uint64_t>(capacity)) &&
      saving.Start(&table)) {
    *bodyLength = PackBody(raw->bytes.get(), size, body->bytes.get(), threads, saving.SavedBytes());
    if (saving.Finish() != 0) {
      *bodyLength = 0;
      return TableNotStorable;
    }
    return *bodyLength == 0 ? TablePackFailed : TablePacked;
  }

  if (SaveSortedJosekiTable(table.get(), raw->bytes.get(), size, nullptr) != 0) return TableNotStorable;
  table.reset();
  if (!body->Reserve(8 + static_cast<uint64_t>(capacity))) return TableNoMemory;
  *bodyLength = PackBody(raw->bytes.get(), size, body->bytes.get(), threads);
  return *bodyLength == 0 ? TablePackFailed : TablePacked;
}
