#include "app/console/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <string>

namespace {

iconv_t toTerminal = reinterpret_cast<iconv_t>(-1);
iconv_t toSystem = reinterpret_cast<iconv_t>(-1);

// Converts all of `in`; an unconvertible or damaged sequence costs one
// input byte and gives `replacement` (or fails when there is none).
bool Convert(iconv_t converter, const std::string& in, std::string* out, const char* replacement) {
  out->clear();
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* from = const_cast<char*>(in.data());
  size_t fromLeft = in.size();
  char buffer[256];
  while (fromLeft > 0) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    const size_t done = iconv(converter, &from, &fromLeft, &to, &toLeft);
    out->append(buffer, static_cast<size_t>(to - buffer));
    if (done != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (replacement == nullptr) return false;
    out->append(replacement);
    ++from;
    --fromLeft;
  }
  char* to = buffer;
  size_t toLeft = sizeof buffer;
  iconv(converter, nullptr, nullptr, &to, &toLeft);
  out->append(buffer, static_cast<size_t>(to - buffer));
  return true;
}

}  // namespace

bool OpenCodePages() {
  const std::string terminal = nl_langinfo(CODESET);
  toTerminal = iconv_open((terminal + "//TRANSLIT").c_str(), "CP932");
  toSystem = iconv_open("CP932", terminal.c_str());
  return toTerminal != reinterpret_cast<iconv_t>(-1) && toSystem != reinterpret_cast<iconv_t>(-1);
}

std::string ToTerminal(const std::string& systemText) {
  std::string text;
  for (char c : systemText) {
    if (c != '\r') text += c;
  }
  std::string converted;
  Convert(toTerminal, text, &converted, "?");
  return converted;
}

bool ToSystem(const std::string& terminalText, std::string* systemText) {
  return Convert(toSystem, terminalText, systemText, nullptr);
}
