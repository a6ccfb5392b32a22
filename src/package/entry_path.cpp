#include "package/entry_path.h"

#include <cstdint>
#include <cstring>

#include "package/file_names.h"
#include "stream/cp932_path.h"
#include "stream/wrap_around.h"

const char TempNewSuffix[] = ".fix-new";
const char TempKeepSuffix[] = ".fix-old";

namespace {

constexpr char TempPrefix[] = "~fix";
constexpr size_t TempDigits = 16;
constexpr char TempNewEnding[] = ".new";
constexpr char TempKeepEnding[] = ".old";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool EqualNoCase(const char* text, const char* ascii, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(text[i]) != LowerAscii(ascii[i])) return false;
  }
  return true;
}

bool EndsWithNoCase(const char* text, size_t length, const char* suffix) {
  const size_t suffixLength = strlen(suffix);
  return length >= suffixLength && EqualNoCase(text + length - suffixLength, suffix, suffixLength);
}

// The end of [begin, end) once Windows has dropped its trailing dots and
// spaces. Neither byte is ever the second byte of a double-byte character.
const char* TrimmedEnd(const char* begin, const char* end) {
  while (end != begin && (end[-1] == '.' || end[-1] == ' ')) --end;
  return end;
}

// The start of the last component of the name: behind its last real
// separator.
const char* LastComponent(const char* name) {
  const char* component = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (IsCp932LeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;
    } else if (IsSeparator(*p)) {
      component = p + 1;
    }
  }
  return component;
}

bool IsHexDigit(char c) {
  c = LowerAscii(c);
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool IsTempComponent(const char* begin, const char* end) {
  const size_t length = static_cast<size_t>(end - begin);
  if (EndsWithNoCase(begin, length, TempNewSuffix) || EndsWithNoCase(begin, length, TempKeepSuffix))
    return true;
  const size_t prefix = sizeof TempPrefix - 1;
  const size_t ending = sizeof TempNewEnding - 1;
  if (length != prefix + TempDigits + ending || !EqualNoCase(begin, TempPrefix, prefix)) return false;
  for (size_t i = prefix; i < prefix + TempDigits; ++i) {
    if (!IsHexDigit(begin[i])) return false;
  }
  return EqualNoCase(end - ending, TempNewEnding, ending) ||
         EqualNoCase(end - ending, TempKeepEnding, ending);
}

// Windows opens these names as devices, in any component, whatever follows
// the first dot and with spaces before it. COM and LPT with the superscript
// digits ¹ ² ³ are devices too, but code page 932 cannot write them: its
// bytes B9, B2 and B3 are half-width katakana.
bool IsDeviceName(const char* begin, const char* end) {
  const char* stem = begin;
  while (stem != end && *stem != '.') ++stem;
  while (stem != begin && stem[-1] == ' ') --stem;
  const size_t length = static_cast<size_t>(stem - begin);
  static const char* const Devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
  for (const char* device : Devices) {
    if (length == strlen(device) && EqualNoCase(begin, device, length)) return true;
  }
  return length == 4 && (EqualNoCase(begin, "com", 3) || EqualNoCase(begin, "lpt", 3)) && begin[3] >= '0' &&
         begin[3] <= '9';
}

// Windows drops trailing dots and spaces from a component, so "..." or ".. "
// would act like "..": such components are refused along with "." and "..".
bool OnlyDotsAndSpaces(const char* begin, const char* end) { return TrimmedEnd(begin, end) == begin; }

// FNV-1a, 64 bits: the same name gives the same temporary name on every
// run, so a run finds what a cut-off one left.
FIX_WRAPS_AROUND uint64_t NameHash(const std::string& name) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}

// The spelling of a name hashed into its temporary names: ASCII letters in
// lower case, / as \, the dots and spaces at the end of each component
// dropped, double-byte characters as they stand. It stays as it was, so that
// a run finds the temporaries an earlier one left.
std::string FoldEntryName(const char* name) {
  std::string folded;
  size_t componentStart = 0;
  for (const char* p = name;; ++p) {
    if (IsCp932LeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      folded += p[0];
      folded += *++p;
      continue;
    }
    if (IsSeparator(*p) || *p == '\0') {
      while (folded.size() > componentStart && (folded.back() == '.' || folded.back() == ' '))
        folded.pop_back();
      if (*p == '\0') break;
      folded += '\\';
      componentStart = folded.size();
      continue;
    }
    folded += LowerAscii(*p);
  }
  return folded;
}

}  // namespace

std::string TempEntryName(const char* name, bool keep) {
  const char* component = LastComponent(name);
  const uint64_t hash = NameHash(FoldEntryName(component));
  std::string temp(name, component);
  temp += TempPrefix;
  for (int shift = 60; shift >= 0; shift -= 4) temp += "0123456789abcdef"[(hash >> shift) & 0xF];
  temp += keep ? TempKeepEnding : TempNewEnding;
  return temp;
}

bool IsPackageTempName(const char* name) {
  const char* component = LastComponent(name);
  return IsTempComponent(component, TrimmedEnd(component, component + strlen(component)));
}

const char* CheckEntryName(const char* name) {
  if (name[0] == '\0') return "the name is empty";
  if (IsSeparator(name[0])) return "the name is absolute";
  const char* component = name;
  const char* p = name;
  for (;;) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (IsCp932LeadByte(byte) && p[1] != '\0') {
      p += 2;  // the second byte may be 0x5C and is no separator
      continue;
    }
    if (byte == ':') return "the name holds a drive or a colon";
    if (IsSeparator(static_cast<char>(byte)) || byte == '\0') {
      if (p == component) return "the name has an empty component";
      if (OnlyDotsAndSpaces(component, p)) return "the name has a . or .. component";
      if (IsDeviceName(component, p)) return "the name is one Windows opens as a device";
      if (byte == '\0') break;
      component = p + 1;
    }
    ++p;
  }
  if (IsPackageTempName(name)) return "the name ends like a temporary file of an update";
  return nullptr;
}

const char* CheckEntryNames(const char* oldName, const char* newName) {
  const char* refused = CheckEntryName(oldName);
  if (refused == nullptr) refused = CheckEntryName(newName);
  if (refused == nullptr && SameEntryName(oldName, newName)) {
    refused = "both names denote one file, which the entry would both keep and replace";
  }
  return refused;
}

bool SameEntryName(const char* one, const char* other) { return CompareFileNames(one, other) == 0; }

bool FolderNeedsSeparator(const char* folder) {
  return folder != nullptr && folder[0] != '\0' && !EndsInBackslash(folder);
}

#ifndef _WIN32
namespace {

// Turns the real backslashes of path[begin, end) into slashes.
void SlashSeparators(std::string* path, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>((*path)[i])) && i + 1 < end) {
      ++i;
    } else if ((*path)[i] == '\\') {
      (*path)[i] = '/';
    }
  }
}

}  // namespace
#endif

std::string EntryPath(const char* folder, bool separator, const char* name) {
  std::string path = folder != nullptr ? folder : "";
  const size_t nameStart = path.size();
  if (separator) path += '\\';
  path += name;
#ifndef _WIN32
  // The folder may come in the system's form too (the updater's stand-in
  // names folders with backslashes); it is scanned apart from the name, so
  // that a damaged folder cannot swallow the separator.
  SlashSeparators(&path, 0, nameStart);
  SlashSeparators(&path, nameStart, path.size());
#else
  (void)nameStart;
#endif
  return path;
}
