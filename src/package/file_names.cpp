#include "package/file_names.h"

#include <cstring>

#include "stream/cp932_path.h"

namespace {

constexpr uint32_t MiddleDot = 0x8145;  // ・, what Windows makes of an undefined pair

// A double-byte code counted from 0x8140 with the trail bytes that the code
// page uses (0x40 to 0x7E, 0x80 to 0xFC: 188 a row), so that a run of
// characters that wraps from one lead byte to the next is one range.
uint32_t Ordinal(uint32_t code) {
  const uint32_t lead = code >> 8;
  const uint32_t trail = code & 0xFF;
  const uint32_t row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
  return row * 188 + trail - 0x40 - (trail > 0x7F ? 1 : 0);
}

uint32_t CodeAt(uint32_t ordinal) {
  const uint32_t row = ordinal / 188;
  uint32_t trail = ordinal % 188 + 0x40;
  if (trail >= 0x7F) ++trail;
  return ((row < 31 ? row + 0x81 : row - 31 + 0xE0) << 8) | trail;
}

// The double-byte characters the code page defines, first and last code of
// each run.
struct Range {
  uint16_t first;
  uint16_t last;
};
constexpr Range Defined[] = {
    {0x8140, 0x81AC}, {0x81B8, 0x81BF}, {0x81C8, 0x81CE}, {0x81DA, 0x81E8}, {0x81F0, 0x81F7},
    {0x81FC, 0x81FC}, {0x824F, 0x8258}, {0x8260, 0x8279}, {0x8281, 0x829A}, {0x829F, 0x82F1},
    {0x8340, 0x8396}, {0x839F, 0x83B6}, {0x83BF, 0x83D6}, {0x8440, 0x8460}, {0x8470, 0x8491},
    {0x849F, 0x84BE}, {0x8740, 0x875D}, {0x875F, 0x8775}, {0x877E, 0x879C}, {0x889F, 0x9872},
    {0x989F, 0xEAA4}, {0xED40, 0xEEEC}, {0xEEEF, 0xEEFC}, {0xF040, 0xFC4B},
};

// Runs of characters that Windows takes for others: `count` codes from
// `first` stand for as many from `target`. Lower-case letters for their
// capitals, and the second (and third) code of a character that the code
// page holds more than once for its first one.
struct Fold {
  uint16_t first;
  uint16_t target;
  uint16_t count;
};
constexpr Fold Folds[] = {
    {0x8281, 0x8260, 26},   // ａ-ｚ: Ａ-Ｚ
    {0x83BF, 0x839F, 24},   // α-ω: Α-Ω
    {0x8470, 0x8440, 33},   // а-я and ё: А-Я and Ё
    {0x8790, 0x81E0, 1},    // ≒ ≡ ∫ √ ⊥ ∠ ∵ ∩ ∪ of the NEC row 13,
    {0x8791, 0x81DF, 1},    // the same as in row 2
    {0x8792, 0x81E7, 1},    //
    {0x8795, 0x81E3, 1},    //
    {0x8796, 0x81DB, 1},    //
    {0x8797, 0x81DA, 1},    //
    {0x879A, 0x81E6, 1},    //
    {0x879B, 0x81BF, 1},    //
    {0x879C, 0x81BE, 1},    //
    {0xEEEF, 0x8754, 10},   // ⅰ-ⅹ (NEC-selected IBM rows): Ⅰ-Ⅹ
    {0xEEF9, 0x81CA, 1},    // ￢
    {0xFA40, 0x8754, 10},   // ⅰ-ⅹ (IBM rows): Ⅰ-Ⅹ
    {0xFA4A, 0x8754, 10},   // Ⅰ-Ⅹ (IBM rows)
    {0xFA54, 0x81CA, 1},    // ￢
    {0xFA55, 0xEEFA, 3},    // ￤ ＇ ＂
    {0xFA58, 0x878A, 1},    // ㈱
    {0xFA59, 0x8782, 1},    // №
    {0xFA5A, 0x8784, 1},    // ℡
    {0xFA5B, 0x81E6, 1},    // ∵
    {0xFA5C, 0xED40, 360},  // the IBM kanji: the NEC-selected ones
};

bool IsDefined(uint32_t code) {
  const uint32_t trail = code & 0xFF;
  if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
  const uint32_t ordinal = Ordinal(code);
  for (const Range& range : Defined) {
    if (ordinal >= Ordinal(range.first) && ordinal <= Ordinal(range.last)) return true;
  }
  return false;
}

uint32_t FoldDoubleByte(uint32_t code) {
  if (!IsDefined(code)) return MiddleDot;
  const uint32_t ordinal = Ordinal(code);
  for (const Fold& fold : Folds) {
    const uint32_t first = Ordinal(fold.first);
    if (ordinal >= first && ordinal < first + fold.count) return CodeAt(Ordinal(fold.target) + ordinal - first);
  }
  return code;
}

void DropTrailingDotsAndSpaces(std::string* key, size_t componentStart) {
  while (key->size() > componentStart && (key->back() == '.' || key->back() == ' ')) key->pop_back();
}

}  // namespace

std::string Cp932FileNameKey(const char* name) {
  std::string key;
  size_t componentStart = 0;
  for (const char* p = name;; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (IsCp932LeadByte(byte)) {
      // A lead byte takes the byte behind it, whatever it is: a 0x5C or a
      // 0x2E there is no separator and no dot. Alone at the end it is ・.
      const uint32_t code = p[1] != '\0' ? (byte << 8) | static_cast<unsigned char>(*++p) : 0;
      const uint32_t folded = code != 0 ? FoldDoubleByte(code) : MiddleDot;
      key += static_cast<char>(folded >> 8);
      key += static_cast<char>(folded & 0xFF);
      continue;
    }
    if (byte == '\\' || byte == '/' || byte == '\0') {
      DropTrailingDotsAndSpaces(&key, componentStart);
      if (byte == '\0') break;
      key += '\\';
      componentStart = key.size();
      continue;
    }
    key += static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
  }
  return key;
}

int32_t CompareCp932FileNames(const char* one, const char* other) {
  const int compared = Cp932FileNameKey(one).compare(Cp932FileNameKey(other));
  return compared < 0 ? -1 : compared > 0 ? 1 : 0;
}

#ifndef _WIN32
// Natively there is no system to ask: names are compared as a Japanese
// Windows compares them (file_names_win32.cpp asks the system).
int32_t CompareFileNames(const char* one, const char* other) { return CompareCp932FileNames(one, other); }
#endif
