#include "thread/arrived_bytes.h"

#include "thread/worker_thread.h"

ArrivedBytes::~ArrivedBytes() { FreeWorkerSignal(signal_); }

bool ArrivedBytes::Open() {
  if (signal_ == nullptr) signal_ = MakeWorkerSignal();
  return signal_ != nullptr;
}

void ArrivedBytes::Arrived(uint32_t length) {
  there_.store(length, std::memory_order_release);
  RaiseWorkerSignal(signal_);
}

void ArrivedBytes::Ended() {
  ended_.store(true, std::memory_order_release);
  RaiseWorkerSignal(signal_);
}

uint32_t ArrivedBytes::Await(uint32_t length) {
  for (;;) {
    // The end is looked at first: once it is seen, so is every byte before it.
    const bool ended = ended_.load(std::memory_order_acquire);
    const uint32_t there = there_.load(std::memory_order_acquire);
    if (there >= length || ended) return there;
    AwaitWorkerSignal(signal_);
  }
}
