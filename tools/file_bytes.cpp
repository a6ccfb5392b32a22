#include "file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_line.h"
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

std::string FolderOf(const std::string& path) {
  // A 0x5C inside a double-byte character is no separator.
  const char* backslash = FindLastBackslash(path.c_str());
  const size_t slash = path.rfind('/');
  size_t last = backslash != nullptr ? static_cast<size_t>(backslash - path.c_str()) : std::string::npos;
  if (slash != std::string::npos && (last == std::string::npos || slash > last)) last = slash;
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ResolvePath(const std::string& folder, const std::string& name) {
  const bool absolute = (!name.empty() && (name[0] == '/' || name[0] == '\\')) ||
                        (name.size() >= 2 && name[1] == ':');
  if (absolute || folder.empty()) return name;
  return folder + name;
}
