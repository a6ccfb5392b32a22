// The update data file (UpdatePackage) and the interpreter of its package
// script.
//
// Update data file: u32 packedSize, u32 rawSize, then a zlib stream that
// unpacks to the rawSize bytes of the package script. The script is a run of
// PackageEntry records: u32 kind, u8 L1, oldName (L1 bytes, NUL last), u8 L2,
// newName (L2 bytes, NUL last), then the payload of the kind.
#pragma once

#include <cstdint>
#include <vector>

enum EntryKind : int32_t {
  KindBook = 0,         // payload: one BookDiff list
  KindDividedBook = 1,  // payload: an ignored u32, then 64 BookDiff lists
  KindFile = 2,         // payload: u32 N, then the N bytes of the new content
};

// Reads the update data file at `path` and unpacks its script into `script`.
// 0 on success; -1 when the file cannot be opened or read, its sizes are
// damaged, or its zlib stream does not unpack to exactly rawSize bytes. On
// failure `script` is left empty and nothing else has been touched.
int32_t ReadUpdatePackage(const char* path, std::vector<uint8_t>* script);

// Applies the unpacked script to the install folder (with or without a final
// backslash; null counts as empty). 0: the script ran to its end; -1: the old
// file of a book entry cannot be read, or no stream could be made over the
// script; -2: the new file of an entry cannot be created; other non-zero
// values are documented with their constants.
int32_t ApplyPackage(uint8_t* script, uint32_t length, const char* folder);
