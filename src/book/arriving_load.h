// The old body loaded into its table on a thread of its own while the body
// is still unpacking, and the diff list applied to the table as it loads.
#pragma once

#include <atomic>
#include <cstdint>

#include "book/book_body.h"
#include "book/byte_arrival.h"
#include "book/held_diff.h"
#include "book/joseki_table.h"

class ByteStream;
struct WorkerThread;

// The body's layout lets the table be built front to back as the bytes
// come, so the two take hardly longer than the unpacking alone. Given the
// package, the thread also reads the BookDiff list first and applies it
// bucket by bucket as the buckets come whole, each chain checked before it
// is changed, so that the table is up to date once the body has unpacked.
// A list longer than a small share of the body is not held (memory): it is
// left to the caller.
class ArrivingLoad : public BodyArrival {
 public:
  // What became of the list.
  enum class List {
    Unread,   // not read: it is the caller's to apply
    Held,     // read whole and applied as far as the table allowed
    Dropped,  // too long to hold, or memory ran out: the package stands inside it
  };

  // The package may be null: the list is then left to the caller.
  explicit ArrivingLoad(ByteStream* package) : package_(package) {}
  ArrivingLoad(const ArrivingLoad&) = delete;
  ArrivingLoad& operator=(const ArrivingLoad&) = delete;
  ~ArrivingLoad() { Finish(); }

  // Starts the loading thread over the body's block, which must already
  // have room for all of it. False when no thread can be had; the body is
  // then loaded once it has unpacked.
  bool Start(const uint8_t* buffer, uint32_t size);

  bool Started() const { return thread_ != nullptr || finished_; }

  // The first `produced` bytes of the body are there.
  void Unpacked(uint32_t produced) { arriving_.Arrived(produced); }

  // No more bytes will come: waits for the loading thread and hands over its
  // table, null when the body stopped short or is damaged.
  JosekiTablePtr Finish();

  // Once finished: the list's fate, and whether a chain was found out of
  // order (nothing was applied to it or behind it) or a put was refused.
  List ListState() const { return list_; }
  bool Disordered() const { return disordered_; }
  bool Refused() const { return refused_; }

  uint32_t AwaitBytes(uint32_t length) override { return arriving_.AwaitBytes(length); }
  void BucketsLoaded(JosekiTable* table, uint32_t buckets) override;

 private:
  static void Run(void* context);

  ByteStream* package_;
  const uint8_t* buffer_ = nullptr;
  uint32_t size_ = 0;
  ArrivingBytes arriving_;
  WorkerThread* thread_ = nullptr;
  bool finished_ = false;
  std::atomic<JosekiTable*> table_{nullptr};
  // The loading thread's alone until it is joined.
  HeldDiff diff_;
  List list_ = List::Unread;
  bool ordered_ = false;
  uint32_t checked_ = 0;  // buckets whose chains were found in order
  bool disordered_ = false;
  bool refused_ = false;
};
