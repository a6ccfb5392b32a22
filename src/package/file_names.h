// Names compared as Windows' file system compares them: two names that it
// takes for one file compare equal, whatever their spellings.
//
// Windows turns a narrow name into UTF-16 with the system's code page,
// drops the dots and spaces at the end of each component, and compares the
// rest ignoring case by its own table of upper-case letters. Code page 932
// writes one file many ways: readme.txt and README.TXT, ｒｅａｄｍｅ.txt and
// ＲＥＡＤＭＥ.txt (full-width letters, Greek and Cyrillic have case too),
// Ⅰ as 0x8754, 0xEEEF or 0xFA4A, 纊 as 0xED40 or 0xFA5C (characters the
// code page holds twice), and a pair of bytes that the code page leaves
// undefined (0x83 0x7F) as ・ (0x8145), the character Windows puts in its
// place.
#pragma once

#include <cstdint>
#include <string>

// The order of two NUL-terminated names (below 0, 0, above 0) as Windows'
// file system compares them: 0 exactly when it takes them for one file.
// Both \ and / separate components. On Windows the system itself compares
// (MultiByteToWideChar with the system's code page, CompareStringOrdinal
// ignoring case); elsewhere Cp932FileNameKey does, as on a Japanese
// Windows. A total order, so names can be sorted by it.
int32_t CompareFileNames(const char* one, const char* other);

// One spelling for all the names that a Windows of code page 932 takes for
// one file: letters in upper case (ASCII, full-width, Greek, Cyrillic,
// Roman numerals), each character held twice by the code page in one of its
// forms, an undefined pair and a lead byte at the end as ・, / as \, and
// the dots and spaces at the end of each component dropped. A lead byte
// and the byte behind it are one character, whatever that byte is.
std::string Cp932FileNameKey(const char* name);

// The order of the two names' Cp932FileNameKey.
int32_t CompareCp932FileNames(const char* one, const char* other);

// CompareFileNames as a strict weak order, for sets and maps of names.
struct FileNameOrder {
  bool operator()(const std::string& one, const std::string& other) const {
    return CompareFileNames(one.c_str(), other.c_str()) < 0;
  }
};
