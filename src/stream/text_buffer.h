// A growable NUL-terminated narrow string (system code page) together with
// the size of its block. It grows to exactly the size asked for and keeps no
// spare room. The fields are open: an owner may write a string of up to
// `capacity` bytes, terminator included, straight into `text`.
#pragma once

#include <cstdint>

struct TextBuffer {
  int32_t capacity = 0;  // bytes in the block, terminator included; 0 without a block
  char* text = nullptr;  // the block, or none exactly when capacity is 0

  TextBuffer() = default;
  ~TextBuffer() { Free(); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Makes room for n (>= 1) bytes and empties the text. 0, or -1 when memory
  // cannot be had (the buffer is then empty with no block).
  int32_t Reserve(int32_t n);
  // Makes room for n bytes and keeps the text. 0, or -1 (nothing changed).
  int32_t Grow(int32_t n);
  // Releases the block; capacity becomes 0.
  void Free();
  // Appends the NUL-terminated string s, growing to exactly the length
  // needed. 0, or -1 (the text is as before).
  int32_t Append(const char* s);
};
