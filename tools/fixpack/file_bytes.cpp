#include "fixpack/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fixpack/command_line.h"
#include "publish/packed_block.h"
#include "stream/cp932_path.h"

namespace {

std::string Cause(const std::string& path, const char* what) {
  const int code = errno;
  std::string text = path + ": " + what;
  if (code != 0) text += std::string(": ") + SystemErrorText(code);
  return text;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  errno = 0;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = Cause(path, "cannot be opened");
    return false;
  }
  // Read in pieces to the end rather than trusting a length from ftell, whose
  // long is 32 bits on Windows.
  uint8_t piece[64 * 1024];
  size_t got;
  while ((got = fread(piece, 1, sizeof piece, file)) > 0) bytes->insert(bytes->end(), piece, piece + got);
  const bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    bytes->clear();
    *error = Cause(path, "cannot be read");
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  errno = 0;
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = Cause(path, "cannot be created");
    return false;
  }
  bool written = size == 0 || fwrite(data, 1, size, file) == size;
  written = fflush(file) == 0 && written && ferror(file) == 0;
  if (fclose(file) != 0) written = false;
  if (!written) {
    *error = Cause(path, "cannot be written");
    remove(path.c_str());
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  return WriteFileBytes(path, bytes.data(), bytes.size(), error);
}

bool WriteFileText(const std::string& path, const std::string& text, std::string* error) {
  return WriteFileBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) {
  errno = 0;
#ifdef _WIN32
  // The runtime's rename does not replace an existing file.
  remove(to.c_str());
#endif
  if (rename(from.c_str(), to.c_str()) != 0) {
    *error = Cause(to, "cannot be put in place");
    return false;
  }
  return true;
}

bool ReadBookImage(const std::string& path, BookImage* image, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, &bytes, error)) return false;
  if (!ParseBookImage(std::move(bytes), image, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

int ReadFileOperand(const char* command, const CommandArguments& arguments, const char* help,
                    std::string* path, std::vector<uint8_t>* bytes, FileKind* kind) {
  if (arguments.positional.size() != 1) return UsageError(command, "give one FILE", help);
  const bool asked = arguments.Has("--as");
  if (asked && !ParseFileKind(arguments.Value("--as"), kind)) {
    return UsageError(command, "--as takes single, divided or data", help);
  }
  *path = arguments.positional[0];
  std::string error;
  if (!ReadFileBytes(*path, bytes, &error)) return Failure(command, error);
  if (!asked) *kind = DetectFileKind(*bytes);
  return 0;
}

int RefuseNeitherKind(const char* command, const std::string& path, const std::vector<uint8_t>& bytes) {
  // A zlib header behind the two sizes (deflate with a window of at most
  // 32 KiB, its check bits right) makes it a data file, damaged or not,
  // whose faults the command itself names.
  // Too short to tell, it is checked as a data file.
  if (bytes.size() < 10 || BeginsZlibStream(&bytes[8])) return 0;
  std::vector<uint8_t> script;
  const BlockCheck check = UnpackBlock(bytes.data(), bytes.size(), &script);
  return Failure(command, path + " is neither a book (it has no JoSeKi5 or JSKDIV1 magic) nor an update data file (" +
                              DescribeBlock(check, bytes.size()) + "); --as tells what it is meant to be");
}
