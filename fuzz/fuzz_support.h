// Helpers shared by the fuzz targets: a growable in-memory stream, the check
// that reports a broken promise, and builders of the book forms that the
// targets make from the plain bytes a fuzzer mutates well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "book/joseki_table.h"
#include "stream/byte_stream.h"
#include "testing/vector_stream.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Called when a target finds a broken promise. The default prints `what`
// and aborts, which a fuzzer records as a finding; the replay test installs
// one that records a test failure and returns.
using FailureHandler = void (*)(const char* what);
void SetFailureHandler(FailureHandler handler);
void Fail(const char* what);
#define FUZZ_CHECK(condition)                                 \
  do {                                                        \
    if (!(condition)) ::fuzz::Fail(__FILE__ ": " #condition); \
  } while (0)

using test_support::VectorStream;

// Reads a little-endian u16 or u32 from the front of the input and moves past
// it; 0 (and nothing taken) when the input is too short.
uint32_t TakeU16(const uint8_t** data, size_t* size);
uint32_t TakeU32(const uint8_t** data, size_t* size);

void PutU32(Bytes* bytes, uint32_t value);
uint32_t GetU32(const uint8_t* p);

// A BookBody around the raw bytes: packedSize, rawSize, zlib stream.
Bytes PackBody(const uint8_t* raw, size_t size);

// Unpacks the BookBody at `offset` of `file` and loads its table; null when
// it is not all there or does not load. `end`, when given, receives the
// offset behind the body.
JosekiTablePtr LoadBody(const Bytes& file, size_t offset, size_t* end = nullptr);

// True when divisions of the divided file `held` (its first bytes; any
// behind them read as zeros) share bytes, two naming one block or a block
// reaching into another, and their blocks claim more than `budget` raw bytes
// in all. Each division is merged from its own block wherever it stands, so
// such a file costs up to 64 times its largest block: linear in the file,
// and measured by hostile_input_bench, but beyond what one fuzz input may
// take.
bool SharesCostlyBlocks(const Bytes& held, uint64_t budget);

// True when the two tables hold the same buckets with the same chains, keys
// and moves in the same order, and their counts agree.
bool SameTables(const JosekiTable& a, const JosekiTable& b);

// True when every node of the table holds 1 to MaxMovesPerNode moves in
// ascending code order and the counts are in step with the chains. (A loaded
// body keeps its chains as stored, so where a node stands is not looked at.)
bool SortedAndCounted(const JosekiTable& table);

}  // namespace fuzz
