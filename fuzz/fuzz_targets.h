// The fuzz targets: each takes one input of any bytes, runs a reader of
// outside data on it and checks the promises that reader makes. A target
// never fails on bad input; it reports a broken promise through fuzz::Fail.
// Each is built into a libFuzzer program of its own (fuzzer_main.cpp) and is
// replayed over the committed corpora by the unit tests.
#pragma once

#include <cstddef>
#include <cstdint>

// The raw body loader and writer. Input: a raw body. When it loads, it is
// saved, loaded again and saved again: the two tables are equal and so are
// the two saved bodies; reading it from a stream gives the same table.
int FuzzBookBody(const uint8_t* data, size_t size);

// MergeBookDiff. Input: u8 mode, u16 L, L bytes of the old body, then the
// package bytes (a BookDiff list). Mode bit 0: the L bytes are a raw body
// that is packed into a BookBody first; otherwise they are the BookBody.
// A merge that succeeds writes exactly the bytes it reports, and they unpack
// to a table with its moves sorted; one that fails writes nothing.
int FuzzBookMerge(const uint8_t* data, size_t size);

// MergeDividedBook. Input: u8 mode, u32 L, L bytes of the old file, then the
// package bytes (an ignored u32 and 64 BookDiff lists). Mode bit 0: the L
// bytes are up to 64 raw bodies, each u16 length and bytes, from which a
// well-formed divided file is built; otherwise they are the whole file,
// magic included. A merge that succeeds leaves a divided file whose 64
// offsets lead to bodies that load, in order and without gaps.
int FuzzDividedBook(const uint8_t* data, size_t size);

// ReadUpdatePackage and ApplyPackage on a scratch install folder (a single
// book, a divided book and two files), made afresh for every input. Input:
// u8 mode, then with mode bit 0 a package script that is packed into an
// update data file, otherwise the update data file itself. Nothing appears
// outside the folder, a data file that does not read changes nothing, and no
// temporary file stays behind.
int FuzzUpdatePackage(const uint8_t* data, size_t size);

// The size fields of every format against bytes mostly absent: the old file
// or the script is a stream that reports the length the input gives, up to
// 4 GiB, and reads zeros behind the bytes the input holds. Input: u8
// selector, then by selector & 3:
//   0  a single book: u32 packedSize, u32 rawSize, u32 length of the old
//      file behind its magic, u16 L and L bytes at the front of the packed
//      bytes, then the package's BookDiff list;
//   1  a divided book: u32 length of the file, 64 u32 offsets, u8 n, n
//      blocks (u32 packedSize, u32 rawSize, u16 L, L bytes) laid from offset
//      264, then the package;
//   2  a raw body: u32 bucketCount, u32 nodeCount, u32 moveCount, u32 length
//      of the stream, then the records;
//   3  a package script: u32 length of the script, then its front, applied
//      to a folder in memory.
// Selector bit 2: the L bytes are compressed into the zlib stream that
// stands there. Bit 3: the n blocks' offsets are put in the table. Bit 4:
// the long stream acts as a memory block rather than a file (for the script,
// the other way round). The promises are those of the other targets.
int FuzzLargeSizes(const uint8_t* data, size_t size);

// Where FuzzUpdatePackage keeps its scratch folders: a folder of its own is
// made under `base` for this process. By default /dev/shm when it is there,
// otherwise the system's temporary folder.
void SetFuzzScratchBase(const char* base);
