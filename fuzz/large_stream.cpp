#include "fuzz/large_stream.h"

#include <cstring>
#include <utility>

namespace fuzz {

LargeStream::LargeStream(Bytes held, uint64_t length, Kind kind)
    : held_(std::move(held)), length_(length), kind_(kind) {
  if (length_ > 0xFFFFFFFFu) length_ = 0xFFFFFFFFu;
  if (held_.size() > length_) held_.resize(static_cast<size_t>(length_));
}

int32_t LargeStream::Seek(int32_t offset, bool fromEnd) {
  const uint64_t base = fromEnd ? length_ : 0;
  if (kind_ == LikeFile) {
    const int64_t target = static_cast<int64_t>(base) + offset;
    if (target < 0) return -1;
    position_ = static_cast<uint64_t>(target);
    return 0;
  }
  const uint32_t target = static_cast<uint32_t>(base + static_cast<uint32_t>(offset));
  position_ = target > length_ ? length_ : target;
  return 0;
}

int32_t LargeStream::Tell() {
  // A file's ftell and a memory stream's position both reach the caller
  // through a signed 32-bit result.
  return static_cast<int32_t>(static_cast<uint32_t>(position_ & 0xFFFFFFFFu));
}

int32_t LargeStream::Read(uint8_t* destination, int32_t length) {
  if (length <= 0 || position_ >= length_) return 0;
  uint64_t count = static_cast<uint64_t>(length);
  if (count > length_ - position_) count = length_ - position_;
  uint64_t done = 0;
  if (position_ < held_.size()) {
    const uint64_t fromHeld = count < held_.size() - position_ ? count : held_.size() - position_;
    memcpy(destination, held_.data() + position_, static_cast<size_t>(fromHeld));
    done = fromHeld;
  }
  uint64_t zeros = count - done;
  if (zeros > LargeStreamZeroBudget - zerosRead_) zeros = LargeStreamZeroBudget - zerosRead_;
  if (zeros > 0) memset(destination + done, 0, static_cast<size_t>(zeros));
  zerosRead_ += zeros;
  done += zeros;
  position_ += done;
  return static_cast<int32_t>(done);
}

int32_t LargeStream::ReadInteger(int count) {
  uint8_t bytes[4];
  const uint64_t here = position_;
  const int32_t got = Read(bytes, count);
  if (got < count && kind_ == LikeMemory) {
    position_ = here;
    return -1;
  }
  if (got <= 0 && kind_ == LikeFile) return -1;
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | (i < got ? bytes[i] : 0xFFu);
  return static_cast<int32_t>(value);
}

int32_t LargeStream::ReadU8() { return ReadInteger(1); }
int32_t LargeStream::ReadU16() { return ReadInteger(2); }
int32_t LargeStream::ReadU32() { return ReadInteger(4); }

}  // namespace fuzz
