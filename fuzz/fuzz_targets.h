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

// Where FuzzUpdatePackage keeps its scratch folders: a folder of its own is
// made under `base` for this process. By default /dev/shm when it is there,
// otherwise the system's temporary folder.
void SetFuzzScratchBase(const char* base);
