#include "book/book_format.h"

#include <zlib.h>

uint32_t PackedBodyCapacity(uint32_t size) {
  const double wanted = static_cast<double>(size) * 1.002 + 12.0;
  if (wanted >= 4294967040.0) return 0;
  uint64_t capacity = static_cast<uint64_t>(wanted);
  const uint64_t bound = compressBound(size);
  if (bound > capacity) capacity = bound;
  return capacity > 0xFFFFFF00u ? 0 : static_cast<uint32_t>(capacity);
}

uint32_t PackBody(const uint8_t* raw, uint32_t size, uint8_t* block) {
  uLongf packedLength = PackedBodyCapacity(size);
  if (packedLength == 0) return 0;
  static const uint8_t nothing = 0;  // zlib wants a source even for no bytes
  if (compress(block + 8, &packedLength, size > 0 ? raw : &nothing, size) != Z_OK) return 0;
  if (packedLength > 0x7FFFFFF7u) return 0;  // a write takes a signed length
  StoreU32(block, static_cast<uint32_t>(packedLength));
  StoreU32(block + 4, size);
  return 8 + static_cast<uint32_t>(packedLength);
}
