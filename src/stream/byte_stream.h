// The byte-stream interface through which every file and every unpacked block
// is read and written, with its file (stdio) and memory-block implementations.
//
// Integers are little-endian on every stream, composed and split byte by byte.
// Results are signed 32-bit values; nothing throws. Streams are made by
// OpenFileStream / OpenMemoryStream and destroyed exactly once by Release(true)
// (or by a StreamPtr, which does that).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

class ByteStream {
 public:
  // Destroys the stream; when `free` is true its memory is returned as well.
  // Every caller in the system passes true.
  void Release(bool free);

  virtual int32_t AtEnd() = 0;                                       // nonzero when no more data can be read
  virtual int32_t Seek(int32_t offset, bool fromEnd) = 0;            // 0 on success
  virtual int32_t Tell() = 0;                                        // the current position
  virtual int32_t ReadU8() = 0;                                      // 0..255, or -1
  virtual int32_t ReadU16() = 0;                                     // 0..65535, or -1
  virtual int32_t ReadU32() = 0;                                     // the 32 bits as a signed value, or -1
  virtual int32_t Read(uint8_t* destination, int32_t length) = 0;    // bytes read, or -1
  virtual int32_t WriteU8(int32_t value) = 0;                        // low 8 bits; 0, or -1
  virtual int32_t WriteU16(int32_t value) = 0;                       // low 16 bits; 0, or -1
  virtual int32_t WriteU32(uint32_t value) = 0;                      // 0, or -1
  virtual int32_t Write(const uint8_t* source, int32_t length) = 0;  // bytes written, or -1

 protected:
  ByteStream() = default;
  virtual ~ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
};

// A stream over a stdio file opened untranslated ("rb" or "wb").
class FileStream : public ByteStream {
 public:
  FileStream() = default;
  ~FileStream() override;

  int32_t AtEnd() override;
  int32_t Seek(int32_t offset, bool fromEnd) override;
  int32_t Tell() override;
  int32_t ReadU8() override;
  int32_t ReadU16() override;
  int32_t ReadU32() override;
  int32_t Read(uint8_t* destination, int32_t length) override;
  int32_t WriteU8(int32_t value) override;
  int32_t WriteU16(int32_t value) override;
  int32_t WriteU32(uint32_t value) override;
  int32_t Write(const uint8_t* source, int32_t length) override;

  // Closes any open file, then opens `path` (system code page) for reading
  // ("rb") or writing ("wb": created, or cut to length 0). 0, or -1.
  virtual int32_t Open(const char* path, bool forReading);
  // Closes any open file, then takes over `opened`, a file that the caller
  // opened in binary mode for reading or for writing as `forReading` says;
  // the stream closes it from now on. Always 0.
  int32_t Adopt(FILE* opened, bool forReading);

  // Writes the runtime's buffers through to the disk (fflush, then fsync or
  // _commit), so that the content survives a crash. 0, or -1 when any write
  // since the open failed or the flush fails.
  int32_t Commit();
  // Closes the file now and reports what the close said: 0, or -1 when the
  // close or any earlier write failed. The stream stays usable only for
  // Release.
  int32_t Close();

 private:
  FILE* file = nullptr;    // the open file, or none
  bool forReading = true;  // the mode of the last Open
};

// A stream over a caller's memory block. It never allocates, grows or frees
// the block, which must outlive the stream. position <= size at all times.
class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;

  int32_t AtEnd() override;
  int32_t Seek(int32_t offset, bool fromEnd) override;
  int32_t Tell() override;
  int32_t ReadU8() override;
  int32_t ReadU16() override;
  int32_t ReadU32() override;
  int32_t Read(uint8_t* destination, int32_t length) override;
  int32_t WriteU8(int32_t value) override;
  int32_t WriteU16(int32_t value) override;
  int32_t WriteU32(uint32_t value) override;
  int32_t Write(const uint8_t* source, int32_t length) override;

  // Retargets the stream to `buffer` of `size` bytes at position 0. Always 0.
  virtual int32_t Attach(uint8_t* buffer, uint32_t size, bool forReading);

 private:
  uint8_t* buffer = nullptr;  // the caller's bytes, or none
  uint32_t position = 0;      // offset of the next byte to read or write
  uint32_t size = 0;          // number of bytes in the block
  bool forReading = true;     // read stream or write stream
};

// A ready file stream, or null when the file cannot be opened.
FileStream* OpenFileStream(const char* path, bool forReading);
// A ready file stream over a file the caller opened (see FileStream::Adopt),
// or null, and then the file is still the caller's to close.
FileStream* AdoptFileStream(FILE* opened, bool forReading);
// A ready memory stream over the caller's block, or null.
MemoryStream* OpenMemoryStream(uint8_t* buffer, uint32_t size, bool forReading);

// Owning handles that Release(true) the stream when they go.
struct StreamRelease {
  void operator()(ByteStream* stream) const { stream->Release(true); }
};
using StreamPtr = std::unique_ptr<ByteStream, StreamRelease>;
using FileStreamPtr = std::unique_ptr<FileStream, StreamRelease>;
using MemoryStreamPtr = std::unique_ptr<MemoryStream, StreamRelease>;
