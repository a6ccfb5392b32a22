#include "publish/build_manifest.h"

#include <map>

#include "package/entry_path.h"
#include "package/file_names.h"
#include "package/update_package.h"
#include "publish/name_encoding.h"
#include "publish/package_writer.h"
#include "stream/cp932_path.h"

namespace {

const char SaveAdvice[] = "save the manifest in code page 932 (Shift-JIS, ANSI in Notepad)";

// Splits a line into words; a word in double quotes may hold spaces and #.
// `cutByHash` tells that a # right behind a word's last character ended it.
bool SplitWords(const std::string& line, std::vector<std::string>* words, bool* cutByHash, std::string* cause) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        *cause = "a quoted word has no closing quote";
        return false;
      }
      words->push_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r' && line[j] != '#') ++j;
      if (j < line.size() && line[j] == '#') *cutByHash = true;
      words->push_back(line.substr(i, j - i));
      i = j;
    }
  }
  return true;
}

bool ParseEntry(const std::vector<std::string>& words, bool cutByHash, const std::string& folder,
                ManifestEntry* entry, std::string* cause) {
  const std::string& keyword = words[0];
  size_t expected;
  if (keyword == "book" || keyword == "divided") {
    entry->kind = keyword == "book" ? KindBook : KindDividedBook;
    expected = 5;
  } else if (keyword == "file") {
    entry->kind = KindFile;
    expected = 4;
  } else {
    *cause = "'" + keyword + "' is none of book, divided, file";
    return false;
  }
  if (words.size() != expected) {
    *cause = keyword +
             (entry->kind == KindFile ? " takes OLDNAME NEWNAME SOURCE"
                                      : " takes OLDNAME NEWNAME OLDBOOK NEWBOOK") +
             ", " + std::to_string(words.size() - 1) + (words.size() == 2 ? " word" : " words") + " given";
    if (cutByHash) *cause += "; a # starts a comment even inside a word: put a name holding # in double quotes";
    return false;
  }
  entry->oldName = words[1];
  entry->newName = words[2];
  for (const std::string* name : {&entry->oldName, &entry->newName}) {
    if (const char* refused = CheckPackageName(*name)) {
      *cause = "the name '" + *name + "' cannot stand in a package: " + refused;
      return false;
    }
    if (const char* wrong = CheckNameEncoding(*name)) {
      *cause = "the name '" + *name + "' would reach users' folders garbled: " + wrong + "; " + SaveAdvice;
      return false;
    }
  }
  if (SameEntryName(entry->oldName.c_str(), entry->newName.c_str())) {
    *cause = "OLDNAME and NEWNAME denote the same file";
    return false;
  }
  if (entry->kind == KindFile) {
    entry->source = ResolvePath(folder, words[3]);
  } else {
    entry->oldBook = ResolvePath(folder, words[3]);
    entry->newBook = ResolvePath(folder, words[4]);
  }
  return true;
}

}  // namespace

bool ParseManifest(const std::string& text, const std::string& folder, std::vector<ManifestEntry>* entries,
                   std::string* error) {
  entries->clear();
  // Editors on Windows save UTF-8 with a byte order mark and UTF-16 as
  // "Unicode"; names in either would be garbled on the user's system: they
  // go into the package byte for byte, and the updater takes them as code
  // page 932.
  if (const char* encoding = UnicodeEncodingOf(text)) {
    const bool utf16 = encoding[4] == '1';
    *error = std::string("1: the manifest is saved in ") + encoding +
             (utf16 ? " (Unicode in Notepad)" : " (it begins with a byte order mark)") + "; " + SaveAdvice;
    return false;
  }
  // Each name with its entry's line, names compared as Windows compares them.
  std::map<std::string, uint32_t, FileNameOrder> usedNames;
  uint32_t line = 0;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    ++line;
    std::vector<std::string> words;
    std::string cause;
    ManifestEntry entry;
    entry.line = line;
    bool cutByHash = false;
    if (!SplitWords(text.substr(begin, end - begin), &words, &cutByHash, &cause) ||
        (!words.empty() && !ParseEntry(words, cutByHash, folder, &entry, &cause))) {
      *error = std::to_string(line) + ": " + cause;
      return false;
    }
    begin = end + 1;
    if (words.empty()) continue;
    if (entries->size() >= static_cast<size_t>(MaxPackageEntries)) {
      *error = std::to_string(line) + ": the updater takes at most " + std::to_string(MaxPackageEntries) +
               " entries in one package";
      return false;
    }
    // Each file of the folder is touched by one entry only: the check
    // applies the package to a folder made from the manifest, which cannot
    // say what an earlier entry left under a shared name.
    for (const std::string* name : {&entry.oldName, &entry.newName}) {
      const auto used = usedNames.find(*name);
      if (used != usedNames.end()) {
        *error = std::to_string(line) + ": the name '" + *name + "' is used by the entry on line " +
                 std::to_string(used->second) + " already";
        return false;
      }
    }
    usedNames.emplace(entry.oldName, line);
    usedNames.emplace(entry.newName, line);
    entries->push_back(entry);
  }
  if (entries->empty()) {
    *error = std::to_string(line) + ": the manifest holds no entries";
    return false;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  // A 0x5C inside a double-byte character is no separator.
  const char* backslash = FindLastBackslash(path.c_str());
  const size_t slash = path.rfind('/');
  size_t last = backslash != nullptr ? static_cast<size_t>(backslash - path.c_str()) : std::string::npos;
  if (slash != std::string::npos && (last == std::string::npos || slash > last)) last = slash;
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ResolvePath(const std::string& folder, const std::string& name) {
  const bool absolute =
      (!name.empty() && (name[0] == '/' || name[0] == '\\')) || (name.size() >= 2 && name[1] == ':');
  if (absolute || folder.empty()) return name;
  return folder + name;
}
