// Walks an unpacked package script entry by entry with the updater's own
// reader (package/script_reader.h), and tells what it holds and where it is
// not well formed. Nothing is applied. Used to inspect and to verify update
// data files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publish/book_diff.h"

// One BookDiff list of a book entry.
struct ScriptList {
  uint32_t offset = 0;  // where it begins in the script
  uint32_t size = 0;    // its bytes, through its terminator
  DiffCounts counts;    // its groups, puts and deletes
};

struct ScriptEntry {
  uint32_t offset = 0;  // where the entry begins in the script
  int32_t kind = 0;     // KindBook, KindDividedBook or KindFile
  std::string oldName;  // up to the first NUL
  std::string newName;
  uint32_t payloadOffset = 0;
  uint32_t payloadSize = 0;
  std::vector<ScriptList> lists;  // 1 for a book, 64 for a divided book
  uint32_t fileSize = 0;          // the content's length of a file entry
};

// Something in the script that is not as a package should be.
struct ScriptProblem {
  uint32_t offset;  // where in the script
  int32_t entry;    // the entry it belongs to, from 1; 0 for none
  std::string text;
};

struct ScriptWalk {
  std::vector<ScriptEntry> entries;     // the entries read completely
  std::vector<ScriptProblem> problems;  // none for a well-formed script
  uint32_t end = 0;                     // where the walk stopped
};

// Reads every entry from the start of the script. A well-formed script is
// a run of complete entries that ends exactly at the end of the bytes: every
// kind is 0 to 2, every name 1 to 254 bytes ending in its only NUL and
// accepted by the updater, the two names of an entry different, no name
// playing two roles across the script (ScriptNames), every BookDiff list
// ended by its terminator, every file payload inside the script. The walk goes on past problems that leave the layout clear and
// stops at the first one that does not.
ScriptWalk WalkScript(const uint8_t* script, uint32_t size);
