#include "stream/byte_stream.h"

#include <new>

void ByteStream::Release(bool free) {
  if (free) {
    delete this;
  } else {
    this->~ByteStream();
  }
}

FileStream* OpenFileStream(const char* path, bool forReading) {
  FileStream* stream = new (std::nothrow) FileStream();
  if (stream == nullptr) return nullptr;
  if (stream->Open(path, forReading) != 0) {
    stream->Release(true);
    return nullptr;
  }
  return stream;
}

FileStream* AdoptFileStream(FILE* opened, bool forReading) {
  FileStream* stream = new (std::nothrow) FileStream();
  if (stream != nullptr) stream->Adopt(opened, forReading);
  return stream;
}

MemoryStream* OpenMemoryStream(uint8_t* buffer, uint32_t size, bool forReading) {
  MemoryStream* stream = new (std::nothrow) MemoryStream();
  if (stream == nullptr) return nullptr;
  if (stream->Attach(buffer, size, forReading) != 0) {
    stream->Release(true);
    return nullptr;
  }
  return stream;
}
