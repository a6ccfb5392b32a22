// Whole files in and out, for the commands of fixpack. Paths are narrow
// strings as the command line gives them. Every error text begins with the
// path, so that it can be printed as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publish/book_image.h"
#include "publish/file_check.h"

struct CommandArguments;

// Reads the whole file into `bytes`. False, with "PATH: cause" in `error`,
// when it cannot be opened or read, or memory cannot hold it ("not enough
// memory", with its length); never throws.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Writes `size` bytes as the whole file, created or cut to length 0. False,
// with "PATH: cause", when any write or the close fails; a file that could
// not be written completely is removed.
bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
bool WriteFileText(const std::string& path, const std::string& text, std::string* error);

// Moves `from` to `to`, replacing what stands under `to`. False, with
// "TO: cause", when it cannot.
bool ReplaceFile(const std::string& from, const std::string& to, std::string* error);

// Reads a book file and tells its layout by its magic. False, with
// "PATH: cause", when it cannot be read, carries neither magic or is too
// short for its layout's header.
bool ReadBookImage(const std::string& path, BookImage* image, std::string* error);

// The one FILE operand of a command that takes any kind of file (inspect,
// verify): read whole into `bytes`, its kind as --as says or else as its
// magic tells. 0, or the exit status to end with (a usage error or a file
// that cannot be read), already reported under `command`.
int ReadFileOperand(const char* command, const CommandArguments& arguments, const char* help,
                    std::string* path, std::vector<uint8_t>* bytes, FileKind* kind);

// True when the two bytes begin a zlib stream: deflate with a window of at
// most 32 KiB and its check bits right, as every update data file holds
// behind its two sizes.
inline bool BeginsZlibStream(const uint8_t* two) {
  return (two[0] & 0x0F) == 8 && (two[0] >> 4) <= 7 && (two[0] * 256 + two[1]) % 31 == 0;
}

// For a file that carries no book magic: 0 when a zlib stream begins
// behind its two sizes, as in every update data file, or when it is too
// short to tell (under 10 bytes); otherwise ExitFailed,
// after saying under `command` that the file is neither a book nor an update
// data file (a text given by mistake would read as absurd sizes).
int RefuseNeitherKind(const char* command, const std::string& path, const std::vector<uint8_t>& bytes);
