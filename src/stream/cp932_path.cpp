#include "stream/cp932_path.h"

bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char* FindLastBackslash(const char* path, LeadByteTest isLead) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (isLead(static_cast<unsigned char>(*p))) {
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

char* FindLastBackslash(char* path, LeadByteTest isLead) {
  return const_cast<char*>(FindLastBackslash(static_cast<const char*>(path), isLead));
}

bool EndsInBackslash(const char* path) {
  const char* last = FindLastBackslash(path);
  return last != nullptr && last[1] == '\0';
}
