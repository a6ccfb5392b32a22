// The divided opening-book file: an 8-byte magic ("JSKDIV1" and its NUL), a
// table of 64 u32 absolute offsets at offset 8, and 64 BookBody blocks.
#pragma once

#include <cstdint>

class ByteStream;

constexpr int32_t DivisionCount = 64;
constexpr uint32_t DividedTableOffset = 8;     // where the offset table stands
constexpr uint32_t DividedFirstBlock = 264;    // directly behind the table

// The 8-byte magic of a divided opening-book file.
extern const uint8_t DividedBookMagic[8];

// Merges the package's 64 BookDiff lists (behind one ignored u32) into the
// 64 divisions of oldFile, writing them in division order into newFile, each
// block padded with zero bytes to a multiple of 4, and fills in the offset
// table at offset 8 at the end. Both files stand at offset 8 on entry.
// 0 on success; non-zero as soon as a division cannot be merged or an old
// offset is unusable (newFile's content is then not a book).
int32_t MergeDividedBook(ByteStream* package, ByteStream* oldFile, ByteStream* newFile);
