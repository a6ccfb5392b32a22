#include <cstring>

#include "stream/byte_stream.h"

int32_t MemoryStream::Attach(uint8_t* buffer, uint32_t size, bool forReading) {
  this->buffer = buffer;
  this->size = size;
  this->forReading = forReading;
  position = 0;
  return 0;
}

int32_t MemoryStream::AtEnd() {
  if (buffer == nullptr) return -1;
  return position >= size ? 1 : 0;
}

int32_t MemoryStream::Seek(int32_t offset, bool fromEnd) {
  // The sum wraps modulo 2^32 and is then clamped to the block.
  const uint32_t target = static_cast<uint32_t>(uint64_t{fromEnd ? size : 0} + static_cast<uint32_t>(offset));
  position = target > size ? size : target;
  return 0;
}

int32_t MemoryStream::Tell() { return static_cast<int32_t>(position); }

// The integer reads and writes move the whole value or nothing. The room left
// is compared as size - position (never negative) so that no sum can wrap.
int32_t MemoryStream::ReadU8() {
  if (forReading == false) return -1;
  if (position >= size) return -1;
  return buffer[position++];
}

int32_t MemoryStream::ReadU16() {
  if (forReading == false) return -1;
  if (size - position < 2) return -1;
  uint32_t value = buffer[position] | (static_cast<uint32_t>(buffer[position + 1]) << 8);
  position += 2;
  return static_cast<int32_t>(value);
}

int32_t MemoryStream::ReadU32() {
  if (forReading == false) return -1;
  if (size - position < 4) return -1;
  const uint8_t* p = buffer + position;
  uint32_t value = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
                   (static_cast<uint32_t>(p[3]) << 24);
  position += 4;
  return static_cast<int32_t>(value);
}

int32_t MemoryStream::Read(uint8_t* destination, int32_t length) {
  if (forReading == false) return -1;
  if (position >= size || length <= 0) return 0;
  const uint32_t left = size - position;
  const uint32_t count = static_cast<uint32_t>(length) < left ? static_cast<uint32_t>(length) : left;
  memcpy(destination, buffer + position, count);
  position += count;
  return static_cast<int32_t>(count);
}

int32_t MemoryStream::WriteU8(int32_t value) {
  if (forReading) return -1;
  if (position >= size) return -1;
  buffer[position++] = static_cast<uint8_t>(value);
  return 0;
}

int32_t MemoryStream::WriteU16(int32_t value) {
  if (forReading) return -1;
  if (size - position < 2) return -1;
  buffer[position] = static_cast<uint8_t>(value);
  buffer[position + 1] = static_cast<uint8_t>(value >> 8);
  position += 2;
  return 0;
}

int32_t MemoryStream::WriteU32(uint32_t value) {
  if (forReading) return -1;
  if (size - position < 4) return -1;
  for (int i = 0; i < 4; ++i) buffer[position + i] = static_cast<uint8_t>(value >> (8 * i));
  position += 4;
  return 0;
}

int32_t MemoryStream::Write(const uint8_t* source, int32_t length) {
  if (forReading) return -1;
  if (position >= size || length <= 0) return 0;
  const uint32_t left = size - position;
  const uint32_t count = static_cast<uint32_t>(length) < left ? static_cast<uint32_t>(length) : left;
  memcpy(buffer + position, source, count);
  position += count;
  return static_cast<int32_t>(count);
}
