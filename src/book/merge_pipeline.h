// Where the merge meets threads: which thread unpacks, loads and applies,
// saves and packs, for a single body and for the divisions of a divided
// book, and where the package goes back when a merge fails. The steps
// themselves (BodyUnpacker, BodyLoader, HeldDiff, BodySaver, PackRawBody)
// know no thread; they are run here.
//
// The thread count is an argument of every merge, from the programs down;
// PackThreads(threads) threads in all, the caller's own one included, and
// the same bytes for any count.
#pragma once

#include <cstdint>

#include "book/divided_book.h"

class ByteStream;

// The divisions of a divided book, merged from oldFile (whose layout is
// `old`) into newFile behind what newFile holds, in division order, each
// block padded to a multiple of 4 bytes; newOffsets[k + 1] is set behind
// division k. False as soon as a division cannot be merged or written: the
// package then stands where merging one division after the other would
// have left it, behind the failed division's list once its merge read it,
// else before it.
bool MergeDivisions(ByteStream* package, ByteStream* oldFile, ByteStream* newFile, const DividedLayout& old,
                    uint32_t* newOffsets, int32_t threads);
