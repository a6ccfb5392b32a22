#include "book/byte_arrival.h"

#include "thread/worker_thread.h"

ArrivingBytes::~ArrivingBytes() { FreeWorkerSignal(signal_); }

bool ArrivingBytes::Open() {
  if (signal_ == nullptr) signal_ = MakeWorkerSignal();
  return signal_ != nullptr;
}

void ArrivingBytes::Arrived(uint32_t length) {
  there_.store(length, std::memory_order_release);
  RaiseWorkerSignal(signal_);
}

void ArrivingBytes::Ended() {
  ended_.store(true, std::memory_order_release);
  RaiseWorkerSignal(signal_);
}

uint32_t ArrivingBytes::AwaitBytes(uint32_t length) {
  for (;;) {
    // The end is looked at first: once it is seen, so is every byte before it.
    const bool ended = ended_.load(std::memory_order_acquire);
    const uint32_t there = there_.load(std::memory_order_acquire);
    if (there >= length || ended) return there;
    AwaitWorkerSignal(signal_);
  }
}
