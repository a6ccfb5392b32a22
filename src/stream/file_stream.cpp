#include "stream/byte_stream.h"

#ifdef _WIN32
#include <io.h>  // _commit, _fileno
#else
#include <unistd.h>  // fsync
#endif

FileStream::~FileStream() {
  if (file != nullptr) fclose(file);
}

int32_t FileStream::Open(const char* path, bool forReading) {
  if (file != nullptr) {
    fclose(file);
    file = nullptr;
  }
  // The runtime opens without denying others read or write access.
  file = fopen(path, forReading ? "rb" : "wb");
  this->forReading = forReading;
  return file != nullptr ? 0 : -1;
}

int32_t FileStream::Adopt(FILE* opened, bool forReading) {
  if (file != nullptr) fclose(file);
  file = opened;
  this->forReading = forReading;
  return 0;
}

int32_t FileStream::AtEnd() {
  if (file == nullptr) return -1;
  return feof(file);
}

int32_t FileStream::Seek(int32_t offset, bool fromEnd) {
  if (file == nullptr) return -1;
  return fseek(file, offset, fromEnd ? SEEK_END : SEEK_SET);
}

int32_t FileStream::Tell() {
  if (file == nullptr) return 0;
  return static_cast<int32_t>(ftell(file));
}

// A character read at the end of the file is -1; its low 8 bits make every
// missing byte count as 0xFF in the integer reads.
int32_t FileStream::ReadU8() {
  if (forReading == false) return -1;
  return getc(file);
}

int32_t FileStream::ReadU16() {
  if (forReading == false) return -1;
  uint32_t value = static_cast<uint8_t>(getc(file));
  value |= static_cast<uint32_t>(static_cast<uint8_t>(getc(file))) << 8;
  return static_cast<int32_t>(value);
}

int32_t FileStream::ReadU32() {
  if (forReading == false) return -1;
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(getc(file))) << shift;
  }
  return static_cast<int32_t>(value);
}

int32_t FileStream::Read(uint8_t* destination, int32_t length) {
  if (forReading == false) return -1;
  if (length <= 0) return 0;
  return static_cast<int32_t>(fread(destination, 1, static_cast<size_t>(length), file));
}

int32_t FileStream::WriteU8(int32_t value) {
  if (forReading) return -1;
  putc(value & 0xFF, file);
  return 0;
}

int32_t FileStream::WriteU16(int32_t value) {
  if (forReading) return -1;
  putc(value & 0xFF, file);
  putc((value >> 8) & 0xFF, file);
  return 0;
}

int32_t FileStream::WriteU32(uint32_t value) {
  if (forReading) return -1;
  for (int shift = 0; shift < 32; shift += 8) putc((value >> shift) & 0xFF, file);
  return 0;
}

int32_t FileStream::Write(const uint8_t* source, int32_t length) {
  if (forReading) return -1;
  if (length <= 0) return 0;
  return static_cast<int32_t>(fwrite(source, 1, static_cast<size_t>(length), file));
}

int32_t FileStream::Commit() {
  if (file == nullptr) return -1;
  if (fflush(file) != 0 || ferror(file)) return -1;
  if (forReading) return 0;
#ifdef _WIN32
  if (_commit(_fileno(file)) != 0) return -1;
#else
  if (fsync(fileno(file)) != 0) return -1;
#endif
  return 0;
}

int32_t FileStream::Close() {
  if (file == nullptr) return -1;
  const bool failedBefore = ferror(file) != 0;
  const int closed = fclose(file);
  file = nullptr;
  return (failedBefore || closed != 0) ? -1 : 0;
}
