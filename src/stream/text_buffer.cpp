#include "stream/text_buffer.h"

#include <cstdlib>
#include <cstring>

int32_t TextBuffer::Reserve(int32_t n) {
  if (n < 1) n = 1;  // room for the terminator at least
  if (n <= capacity) {
    text[0] = '\0';
    return 0;
  }
  Free();
  text = static_cast<char*>(malloc(static_cast<size_t>(n)));
  if (text == nullptr) return -1;
  text[0] = '\0';
  capacity = n;
  return 0;
}

int32_t TextBuffer::Grow(int32_t n) {
  if (n <= capacity) return 0;
  if (capacity == 0) return Reserve(n);
  char* block = static_cast<char*>(malloc(static_cast<size_t>(n)));
  if (block == nullptr) return -1;
  memcpy(block, text, strlen(text) + 1);
  free(text);
  text = block;
  capacity = n;
  return 0;
}

void TextBuffer::Free() {
  free(text);
  text = nullptr;
  capacity = 0;
}

int32_t TextBuffer::Append(const char* s) {
  const size_t added = strlen(s);
  // The capacity is a signed 32-bit count: a longer text cannot be held.
  if (added >= static_cast<size_t>(INT32_MAX)) return -1;
  if (capacity == 0) {
    if (Reserve(static_cast<int32_t>(added + 1)) != 0) return -1;
    memcpy(text, s, added + 1);
    return 0;
  }
  const size_t present = strlen(text);
  if (added >= static_cast<size_t>(INT32_MAX) - present) return -1;
  if (Grow(static_cast<int32_t>(present + added + 1)) != 0) return -1;
  memcpy(text + present, s, added + 1);
  return 0;
}
