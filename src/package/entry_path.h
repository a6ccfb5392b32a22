// The names of package entries and the paths built from them.
//
// A name is a narrow string in code page 932, relative to the install
// folder, and may name a file in a subfolder (book\joseki.dat). Names come
// from outside and are checked before any file is touched. Paths are built
// as folder, separator, name; on Windows the backslashes inside a name are
// its folder separators, and a native POSIX build turns them into slashes.
#pragma once

#include <string>

// The suffixes of the files an entry makes beside its target. A file named
// after a product file plus one of these belongs to an update:
// - TempNewSuffix: the new content while it is built; a leftover is a
//   half-made file and can be removed.
// - TempKeepSuffix: the content the target had while the finished file is
//   moved in; a leftover standing where the target is missing is the target
//   itself and is to be renamed back, otherwise it can be removed.
// No package may name a file that ends in either.
extern const char TempNewSuffix[];   // ".fix-new"
extern const char TempKeepSuffix[];  // ".fix-old"

// True when the file name ends in one of the two suffixes (ASCII letters
// compared without case, as Windows does).
bool IsPackageTempName(const char* name);

// Null when the name may be used; otherwise a short English reason. Refused:
// an empty name; an absolute name (starting with a separator); any colon
// (drive letters, streams); an empty component; a component made of dots and
// spaces only (".", "..", and what Windows trims to them); a name ending in
// a temporary suffix. Both \ and / separate components; a 0x5C that is the
// second byte of a double-byte character does not.
const char* CheckEntryName(const char* name);

// True when a separator goes between the folder and a name: the folder is
// not empty and does not end in a real backslash (code page 932 aware, so a
// folder ending in ソ or 表 does get one). A null folder counts as empty.
bool FolderNeedsSeparator(const char* folder);

// folder, then a backslash when `separator`, then the name up to its first
// NUL. On POSIX the separator and the real backslashes of the folder and of
// the name become slashes. A null folder counts as empty.
std::string EntryPath(const char* folder, bool separator, const char* name);
