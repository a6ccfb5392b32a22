// The entry loop of a package script, and the payload of a file entry.
// ApplyPackage (update_package.h) checks the whole script first and then
// runs this loop over it; package_entries.cpp says how one entry is carried
// out without ever leaving a product file incomplete.
#pragma once

#include <cstdint>

#include "package/update_package.h"

class ByteStream;
class PackageFiles;

// Applies the entries from the read stream's position to its end, as
// ApplyPackage does but without the check beforehand: each entry is checked
// as it is reached, with the script's own reader (script_reader.h), against
// the names of the entries before it too. Returns one of the Apply results;
// `report`, when given, is filled in; `files` defaults to
// SystemPackageFiles(); books are merged on `threads` threads.
int32_t ApplyPackageEntries(ByteStream* package, const char* folder, ApplyReport* report = nullptr,
                            PackageFiles* files = nullptr, int32_t threads = 1);

// Carries out the payload of a KindFile entry: reads u32 N and N bytes from
// the package and writes them to newFile. oldFile is not used and may be
// null. Returns
//   0                 the N bytes are written;
//   ApplyDamaged      N is beyond what remains of the package (nothing is
//                     written);
//   ApplyWriteFailed  the write comes up short, or the block cannot be had.
int32_t CopyPayload(ByteStream* package, ByteStream* oldFile, ByteStream* newFile);
