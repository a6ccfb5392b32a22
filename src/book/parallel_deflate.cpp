#include "book/parallel_deflate.h"

#define ZLIB_CONST
#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "thread/arrived_bytes.h"
#include "thread/ordered_work.h"
#include "thread/worker_thread.h"

namespace {

constexpr uint32_t Window = 32 * 1024;  // what deflate can reach back; the primer's length
constexpr int WindowBits = 15;
constexpr int MemLevel = 8;            // zlib's default, as compress uses
constexpr uint32_t FramingLength = 6;  // zlib header and Adler-32 trailer
// A sync flush ends the chunk's last block and adds an empty stored block:
// 3 bits, up to 7 bits to the byte boundary and LEN/NLEN, at most 5 bytes
// beyond what ending the stream there would take.
constexpr uint32_t SyncFlushMost = 5;
// Room added when, against zlib's bound, a chunk's deflate data does not fit.
constexpr uint32_t RoomStep = 4096;

using Block = std::unique_ptr<uint8_t[]>;

// The body and how it is cut; read-only while the threads run.
struct Job {
  const uint8_t* raw;
  uint32_t rawSize;
  uint32_t chunkCount;  // at least 1: an empty body is one empty chunk
};

uint32_t ChunkCount(uint32_t rawSize) { return rawSize == 0 ? 1 : (rawSize - 1) / PackChunkSize + 1; }

uint32_t ChunkLength(uint32_t rawSize, uint32_t index) {
  const uint32_t left = rawSize - index * PackChunkSize;
  return left < PackChunkSize ? left : PackChunkSize;
}

// The most deflate data one chunk can give: compressBound less the framing,
// which it counts, plus the sync flush of every chunk but the last.
uint64_t ChunkRoom(uint32_t length, bool last) {
  return uint64_t{compressBound(length)} - FramingLength + (last ? 0 : SyncFlushMost);
}

// One thread's deflate state, kept from chunk to chunk (deflateReset gives
// the same bytes as a fresh state at a fraction of the cost), and the packed
// form of its latest chunk.
struct ChunkPacker {
  z_stream z{};
  bool open = false;  // deflateInit2 has succeeded
  Block out;
  uint32_t outRoom = 0;
  uint32_t outLength = 0;
  uLong adler = 1;            // of the chunk's raw bytes
  int32_t result = PackDone;  // of the latest chunk

  ChunkPacker() = default;
  ChunkPacker(const ChunkPacker&) = delete;
  ChunkPacker& operator=(const ChunkPacker&) = delete;
  ~ChunkPacker() {
    if (open) deflateEnd(&z);
  }

  // At least `room` bytes of output block, keeping the first `kept`.
  bool Reserve(uint64_t room, uint32_t kept) {
    if (room <= outRoom) return true;
    if (room > 0xFFFFFFFFu) return false;
    Block larger(new (std::nothrow) uint8_t[static_cast<size_t>(room)]);
    if (!larger) return false;
    if (kept > 0) memcpy(larger.get(), out.get(), kept);
    out = std::move(larger);
    outRoom = static_cast<uint32_t>(room);
    return true;
  }
};

// Deflates chunk `index` into the packer's block. Every chunk is deflated by
// these same steps whichever thread runs it, which is what keeps the stream's
// bytes independent of the thread count.
int32_t PackChunk(const Job& job, uint32_t index, ChunkPacker* p) {
  z_stream* z = &p->z;
  p->outLength = 0;
  if (!p->open) {
    const int made =
        deflateInit2(z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -WindowBits, MemLevel, Z_DEFAULT_STRATEGY);
    if (made != Z_OK) return made == Z_MEM_ERROR ? PackNoMemory : PackFailed;
    p->open = true;
  } else if (deflateReset(z) != Z_OK) {
    return PackFailed;
  }

  const uint32_t start = index * PackChunkSize;
  const uint32_t length = ChunkLength(job.rawSize, index);
  const bool last = index + 1 == job.chunkCount;
  if (start > 0) {
    const uint32_t primer = start < Window ? start : Window;
    if (deflateSetDictionary(z, job.raw + (start - primer), primer) != Z_OK) return PackFailed;
  }
  if (!p->Reserve(ChunkRoom(length, last), 0)) return PackNoMemory;

  static const uint8_t nothing = 0;
  const uint8_t* in = length > 0 ? job.raw + start : &nothing;
  z->next_in = in;
  z->avail_in = length;
  z->next_out = p->out.get();
  z->avail_out = p->outRoom;
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    const int state = deflate(z, flush);
    // A sync flush is complete once deflate leaves room unused.
    if (last ? state == Z_STREAM_END : (state == Z_OK && z->avail_in == 0 && z->avail_out > 0)) break;
    // Stopped with room left over: deflate cannot go on.
    if ((state != Z_OK && state != Z_BUF_ERROR) || z->avail_out > 0) return PackFailed;
    const uint32_t produced = p->outRoom - z->avail_out;
    if (!p->Reserve(uint64_t{p->outRoom} + RoomStep, produced)) return PackNoMemory;
    z->next_out = p->out.get() + produced;
    z->avail_out = p->outRoom - produced;
  }
  p->outLength = p->outRoom - z->avail_out;
  p->adler = adler32(1, in, length);
  return PackDone;
}

// The chunks of one body, packed by the members of an ordered run: each
// slot has a packer of its own; the caller appends each chunk to the stream
// in order as it is taken.
class ChunkWork : public OrderedWork {
 public:
  ChunkWork(const Job& job, uint8_t* packed, uint32_t capacity, ArrivedBytes* arrived,
            const PackProgress* progress)
      : job_(job), packed_(packed), capacity_(capacity), arrived_(arrived), progress_(progress) {}

  bool Start(uint32_t members) {
    packers_.reset(new (std::nothrow) ChunkPacker[OrderedWorkSlots(members)]);
    return packers_ != nullptr;
  }

  // A chunk still being written is handed out once it is there, with the
  // primer before it.
  bool Prepare(uint32_t index, uint32_t) override {
    if (arrived_ == nullptr) return true;
    const uint32_t end = index * PackChunkSize + ChunkLength(job_.rawSize, index);
    if (arrived_->Await(end) >= end) return true;
    cutShort_ = true;
    return false;
  }

  void Do(uint32_t index, uint32_t slot) override {
    packers_[slot].result = PackChunk(job_, index, &packers_[slot]);
  }

  bool Take(uint32_t index, uint32_t slot) override {
    const ChunkPacker& chunk = packers_[slot];
    result_ = chunk.result;
    if (result_ != PackDone) return false;
    // The trailer's 4 bytes are counted now: a stream that cannot end within
    // the capacity is given up at once.
    if (length_ + chunk.outLength + 4 > capacity_) {
      result_ = PackNoRoom;
      return false;
    }
    memcpy(packed_ + static_cast<size_t>(length_), chunk.out.get(), chunk.outLength);
    length_ += chunk.outLength;
    // Each chunk's own length: z_off_t is 32 bits on Windows, too small for
    // the running total of a large body.
    adler_ = adler32_combine(adler_, chunk.adler, static_cast<z_off_t>(ChunkLength(job_.rawSize, index)));
    if (progress_ != nullptr) {
      progress_->report(index * PackChunkSize + ChunkLength(job_.rawSize, index), job_.rawSize,
                        progress_->context);
    }
    return true;
  }

  // Writes the header before the run and the trailer after it.
  void Begin() {
    // CMF 78: deflate with a 32 KiB window; FLG 9C: the default level, no
    // preset dictionary, and the check bits that make 0x789C a multiple of 31.
    packed_[0] = 0x78;
    packed_[1] = 0x9C;
    length_ = 2;
  }
  uint32_t End() {
    for (int shift = 24; shift >= 0; shift -= 8)
      packed_[static_cast<size_t>(length_++)] = static_cast<uint8_t>(adler_ >> shift);
    return static_cast<uint32_t>(length_);
  }

  int32_t Result() const { return cutShort_ ? PackFailed : result_; }

 private:
  const Job& job_;
  uint8_t* packed_;
  uint32_t capacity_;
  ArrivedBytes* arrived_;
  const PackProgress* progress_;
  bool cutShort_ = false;  // the arrived bytes ended before the body did
  std::unique_ptr<ChunkPacker[]> packers_;
  uint64_t length_ = 0;
  uLong adler_ = 1;
  int32_t result_ = PackDone;
};

}  // namespace

int32_t DefaultPackThreads() {
  const int32_t processors = ProcessorCount();
  return processors > PackAutoThreads ? PackAutoThreads : processors;
}

int32_t PackThreads(int32_t threads) {
  if (threads > PackMostThreads) return PackMostThreads;
  return threads < 1 ? 1 : threads;
}

uint32_t PackedBodyBound(uint32_t rawSize) {
  const uint32_t count = ChunkCount(rawSize);
  const uint64_t bound = FramingLength + uint64_t{count - 1} * ChunkRoom(PackChunkSize, false) +
                         ChunkRoom(ChunkLength(rawSize, count - 1), true);
  return bound > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(bound);
}

int32_t PackRawBody(const uint8_t* raw, uint32_t rawSize, uint8_t* packed, uint32_t capacity,
                    uint32_t* packedSize, int32_t threads, ArrivedBytes* arrived,
                    const PackProgress* progress) {
  if (packedSize == nullptr) return PackFailed;
  *packedSize = 0;
  if (packed == nullptr || (raw == nullptr && rawSize > 0)) return PackFailed;
  if (capacity < FramingLength) return PackNoRoom;

  const Job job{raw, rawSize, ChunkCount(rawSize)};
  const uint32_t members = static_cast<uint32_t>(PackThreads(threads));
  ChunkWork work(job, packed, capacity, arrived, progress);
  if (!work.Start(members)) return PackNoMemory;
  work.Begin();
  if (!RunOrderedWork(&work, job.chunkCount, members)) {
    return work.Result() != PackDone ? work.Result() : PackNoMemory;
  }
  const uint32_t length = work.End();
  *packedSize = static_cast<uint32_t>(length);
  return PackDone;
}
