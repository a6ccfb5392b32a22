#include "publish/packed_block.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "book/book_format.h"
#include "book/parallel_deflate.h"
#include "book/table_packing.h"

namespace {

struct InflateEnd {
  void operator()(z_stream* z) const { inflateEnd(z); }
};

// Grows `raw` towards `limit` so that unpacking has room, doubling from a
// small start: the memory taken follows what the stream really delivers.
bool MakeRoom(std::vector<uint8_t>* raw, uint64_t produced, uint64_t limit) {
  if (produced < raw->size()) return true;
  uint64_t grown = raw->size() < 64 * 1024 ? 64 * 1024 : raw->size() * 2;
  if (grown > limit) grown = limit;
  try {
    raw->resize(static_cast<size_t>(grown));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

BlockCheck UnpackBlock(const uint8_t* data, uint64_t available, std::vector<uint8_t>* raw) {
  BlockCheck check;
  raw->clear();
  if (available < 8) return check;
  check.packedSize = LoadU32(data);
  check.rawSize = LoadU32(data + 4);
  if (check.packedSize > available - 8) {
    check.fault = BlockPastEnd;
    return check;
  }

  z_stream z = {};
  if (inflateInit(&z) != Z_OK) {
    check.fault = BlockNoMemory;
    return check;
  }
  const std::unique_ptr<z_stream, InflateEnd> ending(&z);
  z.next_in = const_cast<Bytef*>(data + 8);
  z.avail_in = check.packedSize;

  // Once rawSize bytes are out, a one-byte probe tells whether the stream
  // has more to give.
  uint8_t probe = 0;
  for (;;) {
    uint8_t* out = &probe;
    uint64_t room = 1;
    if (check.produced < check.rawSize) {
      if (!MakeRoom(raw, check.produced, check.rawSize)) {
        check.fault = BlockNoMemory;
        return check;
      }
      out = raw->data() + check.produced;
      room = raw->size() - check.produced;
    }
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    const uInt inputBefore = z.avail_in;
    const int status = inflate(&z, Z_NO_FLUSH);
    const uint64_t made = room - z.avail_out;
    if (out == &probe && made > 0) {
      check.produced = static_cast<uint64_t>(check.rawSize) + 1;
      check.fault = BlockTooLarge;
      break;
    }
    check.produced += made;
    if (status == Z_STREAM_END) {
      if (check.produced != check.rawSize) {
        check.fault = BlockTooSmall;
      } else {
        check.fault = z.avail_in > 0 ? BlockSlack : BlockSound;
      }
      break;
    }
    if (status == Z_MEM_ERROR) {
      check.fault = BlockNoMemory;
      break;
    }
    if (status != Z_OK && status != Z_BUF_ERROR) {
      check.fault = BlockDamaged;
      break;
    }
    // No progress with room to spare: the input has run out, or the stream
    // is stuck, which no valid stream is.
    if (made == 0 && z.avail_in == inputBefore) {
      check.fault = z.avail_in == 0 ? BlockCutShort : BlockDamaged;
      break;
    }
  }
  check.streamLength = check.packedSize - z.avail_in;
  raw->resize(static_cast<size_t>(check.produced > check.rawSize ? check.rawSize : check.produced));
  return check;
}

std::string DescribeBlock(const BlockCheck& check, uint64_t available) {
  const std::string packed = std::to_string(check.packedSize);
  const std::string rawSize = std::to_string(check.rawSize);
  switch (check.fault) {
    case BlockSound:
      return "";
    case BlockSlack:
      return "the zlib stream ends after " + std::to_string(check.streamLength) + " of its " + packed +
             " packed bytes";
    case BlockShortHeader:
      return "only " + std::to_string(available) +
             " bytes stand where the 8 bytes of packedSize and rawSize belong";
    case BlockPastEnd:
      return "packedSize " + packed + " reaches past the end of the file (" +
             std::to_string(available < 8 ? 0 : available - 8) + " bytes follow the sizes)";
    case BlockDamaged:
      return "the zlib stream is damaged after " + std::to_string(check.produced) + " unpacked bytes";
    case BlockCutShort:
      return "the zlib stream does not end within its packedSize of " + packed + " bytes";
    case BlockTooLarge:
      return "the zlib stream unpacks to more than its rawSize of " + rawSize + " bytes";
    case BlockTooSmall:
      return "the zlib stream unpacks to " + std::to_string(check.produced) + " bytes, not its rawSize of " +
             rawSize;
    case BlockNoMemory:
      return "out of memory for the " + rawSize + " unpacked bytes";
  }
  return "";
}

bool PackBlock(const uint8_t* raw, uint64_t size, std::vector<uint8_t>* block, int32_t threads) {
  block->clear();
  if (size > 0xFFFFFFFFu) return false;
  const uint32_t capacity = PackedBodyCapacity(static_cast<uint32_t>(size));
  if (capacity == 0) return false;
  try {
    block->resize(8 + static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint32_t length = 0;
  if (PackBody(raw, static_cast<uint32_t>(size), block->data(), threads, &length) != PackDone) {
    block->clear();
    return false;
  }
  block->resize(length);
  return true;
}
