// A block of bytes that sizes from files may ask for: running out of memory
// gives a null block, not an exception or an absurd request.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

using Block = std::unique_ptr<uint8_t[]>;

// No object may be larger than PTRDIFF_MAX, which on a 32-bit host is 2 GiB.
inline Block AllocateBlock(uint64_t size) {
  if (size > static_cast<uint64_t>(PTRDIFF_MAX)) return nullptr;
  return Block(new (std::nothrow) uint8_t[size == 0 ? 1 : static_cast<size_t>(size)]);
}

// A block kept for reuse. Each page of a block costs the system a fault the
// first time it is touched, a cost on the order of the whole table work;
// serving several bodies from one block avoids paying it again. Room never
// touched costs nothing.
struct ByteBlock {
  Block bytes;
  uint64_t capacity = 0;

  // At least `size` bytes; what the block held is not kept.
  bool Reserve(uint64_t size) {
    if (bytes && size <= capacity) return true;
    bytes.reset();
    bytes = AllocateBlock(size);
    capacity = bytes ? size : 0;
    return bytes != nullptr;
  }

  // A larger block holding the first `kept` bytes of this one.
  bool Grow(uint64_t size, uint64_t kept) {
    Block larger = AllocateBlock(size);
    if (!larger) return false;
    if (kept > 0) memcpy(larger.get(), bytes.get(), static_cast<size_t>(kept));
    bytes = std::move(larger);
    capacity = size;
    return true;
  }
};
