// The manifest from which `fixpack build` makes an update data file: one
// entry a line, in the order the package applies them.
//
//   # comments run from # to the end of the line
//   book    OLDNAME NEWNAME OLDBOOK NEWBOOK    a single book
//   divided OLDNAME NEWNAME OLDBOOK NEWBOOK    a divided book
//   file    OLDNAME NEWNAME SOURCE             a file written afresh
//
// Words are separated by spaces or tabs; a word with spaces is written in
// double quotes. OLDNAME and NEWNAME are the names inside the install folder
// (backslash or slash for subfolders), taken byte for byte (write the
// manifest in code page 932 for names beyond ASCII). OLDBOOK, NEWBOOK and
// SOURCE are files on this machine, relative to the manifest's folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestEntry {
  int32_t kind = 0;     // KindBook, KindDividedBook or KindFile
  std::string oldName;  // where the present file is kept
  std::string newName;  // the file the entry writes
  std::string oldBook;  // book entries: the book as installed
  std::string newBook;  // book entries: the book to reach
  std::string source;   // file entries: the new content
  uint32_t line = 0;
};

// Parses the manifest; paths are resolved against `folder`. False, with
// "LINE: cause", for a manifest saved in UTF-8 with a byte order mark, an
// unknown keyword, a wrong number of words, a name the updater would
// refuse, an entry whose two names denote one file, names shared between
// entries, or a manifest without entries.
bool ParseManifest(const std::string& text, const std::string& folder, std::vector<ManifestEntry>* entries,
                   std::string* error);

// The folder part of a path (up to and including its last / or \), or ""
// for a bare name.
std::string FolderOf(const std::string& path);

// `name` taken relative to `folder` unless it is absolute (begins with a
// separator or a drive).
std::string ResolvePath(const std::string& folder, const std::string& name);
