// The count of bytes written so far into a buffer, front to back, by one
// thread while another reads them: a body being unpacked while it loads, a
// table being saved while it packs.
#pragma once

#include <atomic>
#include <cstdint>

struct WorkerSignal;

class ArrivedBytes {
 public:
  ArrivedBytes() = default;
  ArrivedBytes(const ArrivedBytes&) = delete;
  ArrivedBytes& operator=(const ArrivedBytes&) = delete;
  ~ArrivedBytes();

  // Makes the signal that the two threads share; false when it cannot be had.
  bool Open();

  // The writer's side: the first `length` bytes are there; no more will come.
  void Arrived(uint32_t length);
  void Ended();

  // The reader's side: waits until the first `length` bytes are there and
  // returns how many are; fewer than `length` once no more will come.
  uint32_t Await(uint32_t length);

 private:
  WorkerSignal* signal_ = nullptr;  // raised whenever more bytes have come, and at the end
  std::atomic<uint32_t> there_{0};
  std::atomic<bool> ended_{false};
};
