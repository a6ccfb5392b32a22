// Bytes still arriving in a buffer, front to back, while another thread
// writes them: a body being unpacked, or a table being saved.
#pragma once

#include <cstdint>

class ByteArrival {
 public:
  // Waits until the first `length` bytes are there and returns how many are;
  // fewer than `length` once no more will come.
  virtual uint32_t AwaitBytes(uint32_t length) = 0;

 protected:
  ~ByteArrival() = default;
};
