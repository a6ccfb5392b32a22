// A read stream that says it is far longer than what it holds: its first
// bytes are the ones given, every byte behind them up to its length reads as
// zero. It lets a fuzz input of a few kilobytes stand for a file or a script
// of up to 4 GiB, so that every size check meets sizes near 2^31 and 2^32 on
// every run, at the cost of the bytes really read.
#pragma once

#include <cstdint>

#include "fuzz/fuzz_support.h"

namespace fuzz {

class LargeStream final : public ByteStream {
 public:
  // How a large stream answers where a file and a memory block differ.
  enum Kind {
    LikeFile,    // seeks go anywhere from 0 up, integers cut short by the end
                 // read the missing bytes as 0xFF, Tell is ftell cut to 32 bits
    LikeMemory,  // seeks wrap modulo 2^32 and stop at the end, integers cut
                 // short answer -1
  };

  // `length` is at least the held bytes' and at most 0xFFFFFFFF.
  LargeStream(Bytes held, uint64_t length, Kind kind);

  int32_t AtEnd() override { return position_ >= length_ ? 1 : 0; }
  int32_t Seek(int32_t offset, bool fromEnd) override;
  int32_t Tell() override;
  int32_t ReadU8() override;
  int32_t ReadU16() override;
  int32_t ReadU32() override;
  int32_t Read(uint8_t* destination, int32_t length) override;
  int32_t WriteU8(int32_t) override { return -1; }
  int32_t WriteU16(int32_t) override { return -1; }
  int32_t WriteU32(uint32_t) override { return -1; }
  int32_t Write(const uint8_t*, int32_t) override { return -1; }

  uint64_t length() const { return length_; }

 private:
  // The integer reads: `count` bytes composed little-endian, or -1.
  int32_t ReadInteger(int count);

  Bytes held_;
  uint64_t length_;
  uint64_t position_ = 0;
  Kind kind_;
  // Zeros handed out so far. A reader that would take more than the budget
  // finds the stream ended there.
  uint64_t zerosRead_ = 0;
};

// Zeros one LargeStream hands out at most. Zeros can continue a deflate
// block as matches, each byte of them unpacking to up to 1032 bytes: the
// budget keeps what an input can make the merge really unpack (and so hold)
// near 64 MiB, within the second and the memory an input may take.
constexpr uint64_t LargeStreamZeroBudget = 64 * 1024;

}  // namespace fuzz
