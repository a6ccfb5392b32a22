// Packs a raw book body into one standard zlib stream on several threads.
//
// The body is cut into chunks of PackChunkSize bytes. Each chunk is deflated
// on its own (zlib's default level, a 32 KiB window, memLevel 8, the default
// strategy), primed with the 32 KiB of body before it so that matches reach
// back over the cut; every chunk but the last ends with a sync flush (an
// empty stored block, so the next chunk's deflate data can follow at a byte
// boundary), the last one ends the stream. The chunks' Adler-32 values are
// combined into the stream's, and the zlib header 78 9C and the big-endian
// Adler-32 are written around them. Any inflater, zlib's uncompress
// included, reads the result.
//
// Every thread count, 1 included, runs the same steps for every chunk, so
// the bytes depend only on the body, the chunk size and the zlib version:
// the same for 1, 2 or 16 threads and on every platform. A body of at most
// one chunk packs to exactly the bytes of zlib's compress.
#pragma once

#include <cstdint>

class ArrivedBytes;

// The length of a chunk of raw body deflated on its own.
constexpr uint32_t PackChunkSize = 1024 * 1024;

// The most threads a packing uses, the caller's own one included; a
// program that leaves the choice to the processors takes at most
// PackAutoThreads.
constexpr int32_t PackMostThreads = 16;
constexpr int32_t PackAutoThreads = 8;

// The threads a program uses when its user does not say: one per processor,
// at most PackAutoThreads. The programs (the updater, fixpack) pass it down
// as every other count; nothing below them keeps a setting.
int32_t DefaultPackThreads();

// The threads a packing or a merge that is given `threads` uses: `threads`
// itself, never more than PackMostThreads, never less than 1.
int32_t PackThreads(int32_t threads);

// What a packing tells as it goes: after each chunk has joined the stream,
// on the thread that called the packing, that `packed` of the body's `total`
// raw bytes are packed. Telling changes nothing in the bytes.
struct PackProgress {
  void (*report)(uint32_t packed, uint32_t total, void* context);
  void* context;
};

// Results of PackRawBody.
constexpr int32_t PackDone = 0;
constexpr int32_t PackNoRoom = -2;    // the stream would not fit the capacity
constexpr int32_t PackNoMemory = -3;  // memory for zlib or a chunk ran out
constexpr int32_t PackFailed = -4;    // bad arguments, or zlib refused a step

// The largest stream PackRawBody can make from rawSize bytes, whatever they
// hold: zlib's compressBound for each chunk, less its framing, plus 5 bytes
// for each sync flush and the 6 bytes of framing once. For a body of at most
// one chunk this is compressBound(rawSize). 0 when it exceeds 32 bits.
uint32_t PackedBodyBound(uint32_t rawSize);

// Packs the rawSize bytes at `raw` into `packed`, which holds `capacity`
// bytes, and sets *packedSize to the stream's length. It runs on
// PackThreads(threads) threads, the caller's own one included; threads that
// cannot be started leave the work to fewer, down to the caller alone, with
// the same bytes. No more than one chunk more than the threads is held
// packed at a time. The buffers stay the caller's. With `arrived`, the body
// is still being written: each chunk is packed once its bytes are there.
// With `progress`, the packing tells how far it has come.
// Returns
//   PackDone;
//   PackNoRoom    when the stream would pass `capacity` (no byte beyond it is
//                 ever written; PackedBodyBound(rawSize) always suffices);
//   PackNoMemory;
//   PackFailed    also when the arrived bytes end short of the body.
// On failure *packedSize is 0 and the bytes in `packed` mean nothing.
int32_t PackRawBody(const uint8_t* raw, uint32_t rawSize, uint8_t* packed, uint32_t capacity,
                    uint32_t* packedSize, int32_t threads, ArrivedBytes* arrived = nullptr,
                    const PackProgress* progress = nullptr);
