// The check that a package does exactly what its publisher means, made by
// applying it with the updater's own applier to a folder held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publish/book_image.h"

// What one entry of a package is meant to do.
struct PlannedEntry {
  int32_t kind = 0;  // KindBook, KindDividedBook, KindFile
  std::string oldName;
  std::string newName;
  const BookImage* oldBook = nullptr;             // book entries: the book as installed
  const BookImage* newBook = nullptr;             // book entries: the book to reach
  const std::vector<uint8_t>* content = nullptr;  // file entries: the new content
  std::string label;                              // begins every cause ("manifest.txt:3")
};

// True when the book file `result` holds what `wanted` holds: the same
// layout, bucket counts, positions and moves (compared after the merge's
// sort). Otherwise false, with the body and the first difference. `result`
// is taken, not copied, where the caller moves it in.
bool SameBookContent(std::vector<uint8_t> result, const BookImage& wanted, std::string* cause);

// Applies the script with ApplyPackage to a memory folder that holds each
// book entry's old book under its new name, and a present file of other
// content under each file entry's new name. True when the applier ran every
// entry and afterwards: each book entry's new name holds a book of the same
// layout as its new book, with the same bucket counts, positions and moves
// (compared after the merge's sort); each file entry's new name holds its
// content; each old name keeps what its new name held before; and nothing
// else stands in the folder. Otherwise false, with a cause that names the entry
// and the first difference. Books are merged on `threads` threads.
bool CheckPackage(const std::vector<uint8_t>& script, const std::vector<PlannedEntry>& plan,
                  std::string* error, int32_t threads = 1);
