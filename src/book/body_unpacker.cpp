#include "book/body_unpacker.h"

#include "book/book_format.h"
#include "stream/byte_stream.h"

namespace {

// The old packed bytes are read and unpacked a piece at a time.
constexpr uint32_t PieceSize = 256 * 1024;

// The first block: a generous ratio of the packed bytes really present.
// Books pack far less tightly, so a real one below 256 MiB is unpacked into
// its first block.
constexpr uint64_t FirstBlockRatio = 16;
constexpr uint64_t FirstBlockLeast = 1024 * 1024;
constexpr uint64_t FirstBlockMost = 256 * 1024 * 1024;

// Room for a new body somewhat larger than the old one: the new body is
// saved into the same block when it fits.
uint64_t RoomFor(uint32_t rawSize) { return uint64_t{rawSize} + rawSize / 8 + 4096; }

// The number of bytes between the stream's position and its end, or -1 when
// the stream cannot tell. The position is restored.
int64_t BytesLeft(ByteStream* stream) {
  const int32_t here = stream->Tell();
  if (here < 0 || stream->Seek(0, true) != 0) return -1;
  const int32_t end = stream->Tell();
  if (stream->Seek(here, false) != 0 || end < here) return -1;
  return static_cast<int64_t>(end) - here;
}

}  // namespace

BodyUnpacker::~BodyUnpacker() { End(); }

uint32_t BodyUnpacker::Open() {
  uint8_t counts[BodyCountsSize];
  if (oldFile_->Read(counts, BodyCountsSize) != static_cast<int32_t>(BodyCountsSize)) return 0;
  const uint32_t packedSize = LoadU32(counts);
  const uint32_t rawSize = LoadU32(counts + 4);
  const int64_t left = BytesLeft(oldFile_);
  if (left < 0 || packedSize > left) return 0;
  if (rawSize == 0 || rawSize > MostUnpacked(packedSize)) return 0;

  uint64_t first = packedSize * FirstBlockRatio;
  if (first < FirstBlockLeast) first = FirstBlockLeast;
  if (first > FirstBlockMost) first = FirstBlockMost;
  if (first > RoomFor(rawSize)) first = RoomFor(rawSize);
  if (!raw_->Reserve(first)) return 0;
  piece_ = AllocateBlock(PieceSize);
  if (!piece_ || inflateInit(&z_) != Z_OK) return 0;
  open_ = true;
  z_.next_out = raw_->bytes.get();
  z_.avail_out = static_cast<uInt>(raw_->capacity < rawSize ? raw_->capacity : rawSize);
  rawSize_ = rawSize;
  unread_ = packedSize;
  return rawSize;
}

bool BodyUnpacker::Settled() const { return open_ && raw_->capacity >= rawSize_; }

// Makes room for more output once the block is full and the stream has not
// yet given rawSize bytes; false when the room cannot be had.
bool BodyUnpacker::MakeRoom() {
  const uint64_t produced = z_.total_out;
  uint64_t size = raw_->capacity * 2;
  if (size > RoomFor(rawSize_)) size = RoomFor(rawSize_);
  if (size > raw_->capacity && !raw_->Grow(size, produced)) {
    // Without the room for a new body, what the old one needs will do.
    if (size <= rawSize_ || !raw_->Grow(rawSize_, produced)) return false;
  }
  z_.next_out = raw_->bytes.get() + produced;
  // Never more room than rawSize allows, so a stream that gives more fails.
  const uint64_t limit = raw_->capacity < rawSize_ ? raw_->capacity : rawSize_;
  z_.avail_out = static_cast<uInt>(limit - produced);
  return true;
}

int32_t BodyUnpacker::Step() {
  const int32_t state = Unpack();
  // The piece and zlib's state are not kept while the body is merged.
  if (state != UnpackGoing) End();
  return state;
}

void BodyUnpacker::End() {
  if (open_) inflateEnd(&z_);
  open_ = false;
  piece_.reset();
}

int32_t BodyUnpacker::Unpack() {
  if (!open_) return UnpackFailed;
  if (unread_ > 0) {
    const uint32_t length = unread_ < PieceSize ? unread_ : PieceSize;
    if (oldFile_->Read(piece_.get(), static_cast<int32_t>(length)) != static_cast<int32_t>(length)) {
      return UnpackFailed;
    }
    unread_ -= length;
    z_.next_in = piece_.get();
    z_.avail_in = length;
    // Z_BUF_ERROR means no progress: the stream has more to give than
    // rawSize bytes.
    while (z_.avail_in > 0 && status_ != Z_STREAM_END) {
      if (z_.avail_out == 0 && z_.total_out < rawSize_ && !MakeRoom()) return UnpackFailed;
      status_ = inflate(&z_, Z_NO_FLUSH);
      if (status_ != Z_OK && status_ != Z_STREAM_END) return UnpackFailed;
    }
    if (unread_ > 0) return UnpackGoing;
  }
  return status_ == Z_STREAM_END && z_.total_out == rawSize_ ? UnpackDone : UnpackFailed;
}
