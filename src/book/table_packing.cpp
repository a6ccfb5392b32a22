#include "book/table_packing.h"

#include "book/book_format.h"
#include "book/parallel_deflate.h"

uint32_t PackedBodyCapacity(uint32_t size) {
  const double wanted = static_cast<double>(size) * 1.002 + 12.0;
  if (wanted >= 4294967040.0) return 0;
  uint64_t capacity = static_cast<uint64_t>(wanted);
  const uint32_t bound = PackedBodyBound(size);
  if (bound == 0) return 0;
  if (bound > capacity) capacity = bound;
  return capacity > 0xFFFFFF00u ? 0 : static_cast<uint32_t>(capacity);
}

int32_t PackBody(const uint8_t* raw, uint32_t size, uint8_t* block, int32_t threads, uint32_t* blockLength,
                 ArrivedBytes* arrived, const PackProgress* progress) {
  *blockLength = 0;
  const uint32_t capacity = PackedBodyCapacity(size);
  if (capacity == 0) return PackNoRoom;
  uint32_t packedLength = 0;
  const int32_t packed =
      PackRawBody(raw, size, block + BodyCountsSize, capacity, &packedLength, threads, arrived, progress);
  if (packed != PackDone) return packed;
  if (packedLength > 0x7FFFFFF7u) return PackNoRoom;  // a write takes a signed length
  StoreU32(block, packedLength);
  StoreU32(block + 4, size);
  *blockLength = BodyCountsSize + packedLength;
  return PackDone;
}
