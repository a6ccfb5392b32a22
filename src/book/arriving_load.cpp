#include "book/arriving_load.h"

#include "thread/worker_thread.h"

namespace {

// The memory a list read early may take: a small share of the body's, so
// that the merge's peak hardly moves.
uint64_t HeldListMost(uint32_t rawSize) { return rawSize / 8 + 64 * 1024; }

}  // namespace

bool ArrivingLoad::Start(const uint8_t* buffer, uint32_t size) {
  if (!arriving_.Open()) return false;
  buffer_ = buffer;
  size_ = size;
  thread_ = StartWorkerThread(Run, this);
  return thread_ != nullptr;
}

JosekiTablePtr ArrivingLoad::Finish() {
  if (thread_ == nullptr) return nullptr;
  arriving_.Ended();
  JoinWorkerThread(thread_);
  thread_ = nullptr;
  finished_ = true;
  return JosekiTablePtr(table_.exchange(nullptr));
}

void ArrivingLoad::BucketsLoaded(JosekiTable* table, uint32_t buckets) {
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

void ArrivingLoad::Run(void* context) {
  ArrivingLoad* load = static_cast<ArrivingLoad*>(context);
  if (load->package_ != nullptr) {
    load->list_ = load->diff_.Read(load->package_, HeldListMost(load->size_)) ? List::Held : List::Dropped;
  }
  load->table_.store(LoadArrivingJosekiTable(load->buffer_, load->size_, load));
}
