#include "fixpack/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/stat.h>
#include <sys/types.h>

#include "fixpack/command_line.h"
#include "publish/packed_block.h"
#include "stream/cp932_path.h"

namespace {

// The file's length as it stands, 0 where it has none to tell (a pipe).
uint64_t FileLength(FILE* file) {
#ifdef _WIN32
  struct _stati64 status;
  if (_fstati64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return 0;
#else
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
#endif
  return static_cast<uint64_t>(status.st_size);
}

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
  // The length in 64 bits (ftell's long is 32 bits on Windows), so that a
  // file larger than this process can hold is refused before any of it is
  // read, and the rest is read into room made once. The pieces are read to
  // the end all the same: the length is only what the file held on opening.
  const uint64_t length = FileLength(file);
  const char* cause = nullptr;
  if (length > bytes->max_size()) {
    cause = "too large to hold in memory";
  } else {
    try {
      bytes->reserve(static_cast<size_t>(length));
      uint8_t piece[64 * 1024];
      size_t got;
      while (cause == nullptr && (got = fread(piece, 1, sizeof piece, file)) > 0) {
        if (got > bytes->max_size() - bytes->size()) {
          cause = "too large to hold in memory";
        } else {
          bytes->insert(bytes->end(), piece, piece + got);
        }
      }
    } catch (const std::bad_alloc&) {
      cause = "not enough memory";
    }
  }
  const bool failed = cause == nullptr && ferror(file) != 0;
  if (failed) cause = "cannot be read";
  const int code = errno;
  fclose(file);
  if (cause == nullptr) return true;
  std::vector<uint8_t>().swap(*bytes);
  errno = failed ? code : 0;
  *error = Cause(path, cause);
  if (!failed && length != 0) *error += " (" + std::to_string(length) + " bytes)";
  return false;
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
