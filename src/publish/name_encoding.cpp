#include "publish/name_encoding.h"

namespace {

bool OpensRow(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x84) || (byte >= 0x87 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xEA) ||
         byte == 0xED || byte == 0xEE || (byte >= 0xF0 && byte <= 0xFC);
}

bool IsTrail(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

bool IsCp932(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF)) continue;
    if (!OpensRow(byte) || i + 1 == name.size() || !IsTrail(static_cast<unsigned char>(name[i + 1])))
      return false;
    ++i;
  }
  return true;
}

// True when the name is well-formed UTF-8 and holds a character of three
// bytes or more; code page 932 text almost never does, as its most common
// first bytes (0x81-0x9F) cannot begin a UTF-8 character.
bool ReadsAsUtf8(const std::string& name) {
  bool wide = false;
  for (size_t i = 0; i < name.size();) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    size_t length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && byte < 0xC2) || i + length > name.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return false;
    }
    if (length >= 3) wide = true;
    i += length;
  }
  return wide;
}

}  // namespace

const char* CheckNameEncoding(const std::string& name) {
  if (!IsCp932(name)) return "its bytes are not code page 932 text";
  if (ReadsAsUtf8(name)) return "its bytes are UTF-8 text, not code page 932";
  return nullptr;
}

const char* UnicodeEncodingOf(const std::string& text) {
  if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) return "UTF-16";
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return "UTF-8";
  if (text.find('\0') != std::string::npos) return "UTF-16";
  return nullptr;
}
