#include "book/table_packing.h"

#include <utility>

#include "book/book_body.h"
#include "book/book_format.h"

int32_t PackTableBody(JosekiTablePtr table, ByteBlock* raw, ByteBlock* body, uint32_t* bodyLength,
                      int32_t threads) {
  *bodyLength = 0;
  SortMoves(table.get());
  const uint32_t size =
      RawBodySize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                  static_cast<uint32_t>(table->moveCount));
  if (size == 0xFFFFFFFF) return TableTooLarge;
  if (!raw->Reserve(size)) return TableNoMemory;
  if (SaveJosekiTable(table.get(), raw->bytes.get(), size) != 0) return TableNotStorable;
  table.reset();

  const uint32_t capacity = PackedBodyCapacity(size);
  if (capacity == 0) return TableTooLarge;
  if (!body->Reserve(8 + static_cast<uint64_t>(capacity))) return TableNoMemory;
  *bodyLength = PackBody(raw->bytes.get(), size, body->bytes.get(), threads);
  return *bodyLength == 0 ? TablePackFailed : TablePacked;
}
