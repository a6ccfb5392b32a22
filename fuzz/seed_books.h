// The books of the seed corpora and of the package target's scratch install
// folder, made from their text form by `fixpack pack` exactly as a publisher
// makes them, so that the seeds' update data files (made by `fixpack build`
// against these very books) merge into the install folder the target starts
// from.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace fuzz {

// Files by their name inside a folder, '/' between folders.
using FileSet = std::map<std::string, Bytes>;

// The seed books, old and new forms of a single and a divided book.
enum SeedBook : int32_t {
  SeedSingleOld = 0,  // the installed single book
  SeedSingleNew,      // moves put, changed and deleted; positions gone and new
  SeedSingleEmpty,    // the same bucket count, no positions
  SeedDividedOld,     // the installed divided book, a few divisions filled
  SeedDividedNew,
  SeedBookCount
};

// The text form of the book, as `fixpack pack` reads it.
const std::string& SeedBookText(SeedBook book);

// True for the books packed with --divided.
bool SeedBookDivided(SeedBook book);

// Packs the book into `path` exactly as `fixpack pack` does, writing its
// text beside it as `path`.txt. False when it cannot.
bool PackSeedBook(SeedBook book, const std::string& path);

// The install folder every update_package input starts from: joseki.dat
// (SeedSingleOld), book/div.dat (SeedDividedOld), a.txt and sub/readme.txt.
// The books are packed in `work`, a folder that must exist and is left
// holding the packer's files. Empty when packing fails.
FileSet SeedInstall(const std::string& work);

}  // namespace fuzz
