// A stream over a growable block it owns, for the tests and the fuzz
// targets: writes extend the block, seeks may go anywhere inside it, and
// reads stop at its end like a memory stream's.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "stream/byte_stream.h"

namespace test_support {

class VectorStream final : public ByteStream {
 public:
  explicit VectorStream(std::vector<uint8_t> bytes = std::vector<uint8_t>(), bool forReading = false)
      : bytes_(std::move(bytes)), forReading_(forReading) {}

  int32_t AtEnd() override { return position_ >= bytes_.size() ? 1 : 0; }

  int32_t Seek(int32_t offset, bool fromEnd) override {
    const int64_t target = (fromEnd ? static_cast<int64_t>(bytes_.size()) : 0) + offset;
    if (target < 0 || target > static_cast<int64_t>(bytes_.size())) return -1;
    position_ = static_cast<size_t>(target);
    return 0;
  }

  int32_t Tell() override { return static_cast<int32_t>(position_); }

  int32_t ReadU8() override {
    if (!forReading_ || position_ >= bytes_.size()) return -1;
    return bytes_[position_++];
  }

  int32_t ReadU16() override {
    uint8_t p[2];
    if (Read(p, 2) != 2) return -1;
    return p[0] | (p[1] << 8);
  }

  int32_t ReadU32() override {
    uint8_t p[4];
    if (Read(p, 4) != 4) return -1;
    return static_cast<int32_t>(p[0] | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
  }

  int32_t Read(uint8_t* destination, int32_t length) override {
    if (!forReading_) return -1;
    if (length <= 0) return 0;
    const size_t left = bytes_.size() - position_;
    const size_t count = static_cast<size_t>(length) < left ? static_cast<size_t>(length) : left;
    if (count > 0) memcpy(destination, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<int32_t>(count);
  }

  int32_t WriteU8(int32_t value) override {
    const uint8_t byte = static_cast<uint8_t>(value);
    return Write(&byte, 1) == 1 ? 0 : -1;
  }

  int32_t WriteU16(int32_t value) override {
    const uint8_t p[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return Write(p, 2) == 2 ? 0 : -1;
  }

  int32_t WriteU32(uint32_t value) override {
    const uint8_t p[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return Write(p, 4) == 4 ? 0 : -1;
  }

  int32_t Write(const uint8_t* source, int32_t length) override {
    if (forReading_) return -1;
    if (length <= 0) return 0;
    const size_t end = position_ + static_cast<size_t>(length);
    if (end > bytes_.size()) bytes_.resize(end);
    memcpy(bytes_.data() + position_, source, static_cast<size_t>(length));
    position_ = end;
    return length;
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  bool forReading_;
};

}  // namespace test_support
