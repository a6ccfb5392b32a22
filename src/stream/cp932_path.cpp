#include "stream/cp932_path.h"

bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char* FindLastBackslash(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsCp932LeadByte(static_cast<unsigned char>(*p))) {
      // A lead byte followed by the terminator is a damaged name; stop there
      // rather than read past it.
      if (p[1] == '\0') break;
      ++p;
    } else if (*p == '\\') {
      last = p;
    }
  }
  return last;
}

char* FindLastBackslash(char* path) {
  return const_cast<char*>(FindLastBackslash(static_cast<const char*>(path)));
}

bool EndsInBackslash(const char* path) {
  const char* last = FindLastBackslash(path);
  return last != nullptr && last[1] == '\0';
}
