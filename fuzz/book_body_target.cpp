// The raw body loader and writer under arbitrary bytes.
#include <cstring>
#include <vector>

#include "book/book_body.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

int FuzzBookBody(const uint8_t* data, size_t size) {
  using fuzz::Bytes;
  if (size > 0xFFFFFFFFu) return 0;
  JosekiTablePtr first(LoadJosekiTable(data, static_cast<uint32_t>(size)));

  // The stream reader takes one body from the front and leaves the stream
  // behind it: it must load exactly what the block reader loads from the
  // bytes it took, and take them all when the whole input is one body.
  Bytes copy(data, data + size);
  fuzz::VectorStream stream(copy, true);
  JosekiTablePtr streamed(ReadJosekiTable(&stream));
  if (streamed) {
    JosekiTablePtr taken(LoadJosekiTable(data, static_cast<uint32_t>(stream.Tell())));
    FUZZ_CHECK(taken != nullptr && fuzz::SameTables(*taken, *streamed));
  }
  if (!first) return 0;
  FUZZ_CHECK(streamed != nullptr && stream.Tell() == static_cast<int32_t>(size));
  if (!streamed) return 0;
  FUZZ_CHECK(fuzz::SameTables(*first, *streamed));

  const uint32_t length =
      RawBodySize(static_cast<uint32_t>(first->bucketCount), static_cast<uint32_t>(first->nodeCount),
                  static_cast<uint32_t>(first->moveCount));
  FUZZ_CHECK(length <= size);  // left-out empty nodes only ever shrink it
  Bytes saved(length);
  FUZZ_CHECK(SaveJosekiTable(first.get(), saved.data(), length) == 0);
  // A buffer one byte short is refused rather than overrun.
  if (length > 0) FUZZ_CHECK(SaveJosekiTable(first.get(), saved.data(), length - 1) == -1);

  JosekiTablePtr second(LoadJosekiTable(saved.data(), length));
  FUZZ_CHECK(second != nullptr);
  if (!second) return 0;
  FUZZ_CHECK(fuzz::SameTables(*first, *second));

  fuzz::VectorStream written;
  FUZZ_CHECK(WriteJosekiTable(second.get(), &written) == 0);
  FUZZ_CHECK(written.bytes() == saved);
  return 0;
}
