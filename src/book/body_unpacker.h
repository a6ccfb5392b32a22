// Unpacks an old BookBody (u32 packedSize, u32 rawSize, zlib stream)
// straight from its file into a raw block, a piece at a time, in the manner
// of zlib's stream: each step reads and unpacks the next piece and says how
// far the raw body has come. It never waits and knows no thread; the merge
// pipeline decides who reads the bytes as they come.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "book/byte_block.h"

class ByteStream;

// Results of BodyUnpacker::Step.
constexpr int32_t UnpackGoing = 1;    // more pieces are left
constexpr int32_t UnpackDone = 0;     // exactly rawSize bytes are in the block
constexpr int32_t UnpackFailed = -1;  // see Open and Step

class BodyUnpacker {
 public:
  // Unpacks from oldFile, which stands at the block's counts, into `raw`.
  // Both stay the caller's.
  BodyUnpacker(ByteStream* oldFile, ByteBlock* raw) : oldFile_(oldFile), raw_(raw) {}
  BodyUnpacker(const BodyUnpacker&) = delete;
  BodyUnpacker& operator=(const BodyUnpacker&) = delete;
  ~BodyUnpacker();

  // Reads the counts and makes the first block. The raw size, or 0 when the
  // packed bytes are not all in the file, the rawSize is 0 or more than
  // MostUnpacked(packedSize), or memory runs out. A rawSize is only a claim
  // until the zlib stream bears it out, so the first block is no larger than
  // a generous ratio of the packed bytes really present; it doubles while
  // the stream keeps giving.
  uint32_t Open();

  // True when the block already has room for the whole raw body, so that it
  // never moves while the body unpacks (and can be read as it fills).
  bool Settled() const;
  const uint8_t* RawBytes() const { return raw_->bytes.get(); }

  // Reads and unpacks the next piece. UnpackFailed when the file ends early,
  // the stream is damaged or gives more or fewer than rawSize bytes, or
  // memory runs out. Like uncompress, it accepts any valid zlib stream and
  // passes over bytes behind the stream's end; oldFile ends up behind the
  // whole body either way.
  int32_t Step();

  // The raw bytes unpacked so far, at the front of the block.
  uint32_t Produced() const { return static_cast<uint32_t>(z_.total_out); }

 private:
  bool MakeRoom();
  int32_t Unpack();
  void End();

  ByteStream* oldFile_;
  ByteBlock* raw_;
  Block piece_;
  z_stream z_{};
  bool open_ = false;  // inflateInit has succeeded
  int status_ = Z_OK;
  uint32_t rawSize_ = 0;
  uint32_t unread_ = 0;  // packed bytes still in the file
};
