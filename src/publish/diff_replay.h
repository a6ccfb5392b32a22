// What the diff of a book entry does to the book it meets: replayed on that
// book, record by record in stream order as the merge applies them, it
// tells the deletes that find no move to delete and the puts that find the
// very move there already. A diff made from the book it meets has neither;
// many of them say that the folder held another release than the package
// was made for, or that the package had been applied to it already.
#pragma once

#include <cstdint>
#include <string>

#include "publish/book_image.h"
#include "publish/package_script.h"

struct DiffEffect {
  uint64_t puts = 0;
  uint64_t deletes = 0;
  uint64_t idlePuts = 0;       // the position held the same move, all 8 bytes
  uint64_t missedDeletes = 0;  // the position held no move of that code
};

// Replays the lists of the book or divided-book entry `entry` of the
// script on the book `before` (a divided entry's list k on division k).
// False, with a cause, when a body of the book does not load, the book's
// layout is not the entry's, or memory runs out ("not enough memory").
bool ReplayEntryDiff(const BookImage& before, const uint8_t* script, uint32_t size, const ScriptEntry& entry,
                     DiffEffect* effect, std::string* error);
