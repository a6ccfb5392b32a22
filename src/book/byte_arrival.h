// Bytes still arriving in a buffer, front to back, while another thread
// writes them: a body being unpacked, or a table being saved.
#pragma once

#include <atomic>
#include <cstdint>

struct WorkerSignal;

class ByteArrival {
 public:
  // Waits until the first `length` bytes are there and returns how many are;
  // fewer than `length` once no more will come.
  virtual uint32_t AwaitBytes(uint32_t length) = 0;

 protected:
  ~ByteArrival() = default;
};

// The count of bytes there, kept by the one thread that writes them and
// awaited by the one thread that reads them.
class ArrivingBytes : public ByteArrival {
 public:
  ArrivingBytes() = default;
  ArrivingBytes(const ArrivingBytes&) = delete;
  ArrivingBytes& operator=(const ArrivingBytes&) = delete;
  ~ArrivingBytes();

  // Makes the signal that the two threads share; false when it cannot be had.
  bool Open();

  // The writer's side: the first `length` bytes are there; no more will come.
  void Arrived(uint32_t length);
  void Ended();

  uint32_t AwaitBytes(uint32_t length) override;

 private:
  WorkerSignal* signal_ = nullptr;  // raised whenever more bytes have come, and at the end
  std::atomic<uint32_t> there_{0};
  std::atomic<bool> ended_{false};
};
