#include "package/entry_path.h"

#include <cstring>

#include "stream/cp932_path.h"

const char TempNewSuffix[] = ".fix-new";
const char TempKeepSuffix[] = ".fix-old";

namespace {

bool EndsWithNoCase(const char* text, size_t length, const char* suffix) {
  const size_t suffixLength = strlen(suffix);
  if (length < suffixLength) return false;
  const char* tail = text + length - suffixLength;
  for (size_t i = 0; i < suffixLength; ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// Windows drops trailing dots and spaces from a component, so "..." or ".. "
// would act like "..": such components are refused along with "." and "..".
bool OnlyDotsAndSpaces(const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p) {
    if (*p != '.' && *p != ' ') return false;
  }
  return true;
}

}  // namespace

bool IsPackageTempName(const char* name) {
  const size_t length = strlen(name);
  return EndsWithNoCase(name, length, TempNewSuffix) || EndsWithNoCase(name, length, TempKeepSuffix);
}

const char* CheckEntryName(const char* name) {
  if (name[0] == '\0') return "the name is empty";
  if (name[0] == '\\' || name[0] == '/') return "the name is absolute";
  const char* component = name;
  const char* p = name;
  for (;;) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (IsCp932LeadByte(byte) && p[1] != '\0') {
      p += 2;  // the second byte may be 0x5C and is no separator
      continue;
    }
    if (byte == ':') return "the name holds a drive or a colon";
    if (byte == '\\' || byte == '/' || byte == '\0') {
      if (p == component) return "the name has an empty component";
      if (OnlyDotsAndSpaces(component, p)) return "the name has a . or .. component";
      if (byte == '\0') break;
      component = p + 1;
    }
    ++p;
  }
  if (IsPackageTempName(name)) return "the name ends like a temporary file of an update";
  return nullptr;
}

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
