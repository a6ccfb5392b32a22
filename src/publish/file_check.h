// What a file is (single book, divided book, update data file) and the
// check of a whole file of each kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Findings;

enum FileKind : int32_t {
  FileSingleBook = 0,   // magic "JoSeKi5"
  FileDividedBook = 1,  // magic "JSKDIV1"
  FileDataFile = 2,     // an update data file: no magic, an envelope
};

// Tells the kind by the file's magic; a file with neither book magic is
// taken for an update data file.
FileKind DetectFileKind(const std::vector<uint8_t>& bytes);

// "single book", "divided book", "update data file".
const char* FileKindName(FileKind kind);

// Parses the word of --as: "single", "divided" or "data". False for
// anything else.
bool ParseFileKind(const std::string& word, FileKind* kind);

// The update data file: its envelope (the zlib stream filling exactly
// packedSize, unpacking to exactly rawSize bytes, no larger than the
// updater accepts, nothing behind it) and its script (which must parse to
// its end; see WalkScript).
void CheckDataFile(const std::vector<uint8_t>& file, Findings* findings);

// Checks the file as `kind`, reporting every violation with its place.
// `progress`, when given, is called with each division done.
void CheckFile(const std::vector<uint8_t>& file, FileKind kind, Findings* findings,
               void (*progress)(int32_t, void*) = nullptr, void* context = nullptr);
