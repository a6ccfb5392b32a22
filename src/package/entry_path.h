// The names of package entries and the paths built from them.
//
// A name is a narrow string in code page 932, relative to the install
// folder, and may name a file in a subfolder (book\joseki.dat). Names come
// from outside and are checked before any file is touched. Paths are built
// as folder, separator, name; on Windows the backslashes inside a name are
// its folder separators, and a native POSIX build turns them into slashes.
#pragma once

#include <string>

// The suffixes that earlier updaters put behind a target's name for its
// temporary files (NAME.fix-new, NAME.fix-old). Their leftovers are still
// cleared, and no package may name a file that ends in either.
extern const char TempNewSuffix[];   // ".fix-new"
extern const char TempKeepSuffix[];  // ".fix-old"

// The name, relative to the install folder, of a temporary file of the entry
// whose target is `name`: in the target's own folder, "~fix", 16 hexadecimal
// digits of a hash of the target's file name (ASCII letters in lower case,
// trailing dots and spaces dropped)
// and ".new" for the new content while it is built (a leftover is a
// half-made file and can be removed) or, with `keep`, ".old" for the content
// the target had while the finished file moves in (a leftover standing where
// the target is missing is the target itself and is to be renamed back).
// Always 24 bytes behind the folder, whatever the target's length.
std::string TempEntryName(const char* name, bool keep);

// True when the last component of the name or path is a temporary file of an
// update: TempEntryName's pattern or an earlier updater's suffix, letters in
// any case and trailing dots and spaces dropped, as Windows takes them.
bool IsPackageTempName(const char* name);

// Null when the name may be used; otherwise a short English reason. Refused:
// an empty name; an absolute name (starting with a separator); any colon
// (drive letters, streams); an empty component; a component made of dots and
// spaces only (".", "..", and what Windows trims to them); a component that
// Windows opens as a device (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9,
// CONIN$, CONOUT$, CLOCK$, in any case, with any extension, trailing dots or
// spaces); a temporary name (IsPackageTempName). Both \ and / separate
// components; a 0x5C that is the second byte of a double-byte character does
// not. The same on every platform: a package is made for Windows.
const char* CheckEntryName(const char* name);

// CheckEntryName for both names of an entry, and then null when they denote
// two files, or a reason when SameEntryName says they denote one.
const char* CheckEntryNames(const char* oldName, const char* newName);

// True when Windows takes the two names for one file (CompareFileNames):
// letters in any case, full-width ones included, trailing dots and spaces,
// the second code of a character the code page holds twice.
bool SameEntryName(const char* one, const char* other);

// True when a separator goes between the folder and a name: the folder is
// not empty and does not end in a real backslash (code page 932 aware, so a
// folder ending in ソ or 表 does get one). A null folder counts as empty.
bool FolderNeedsSeparator(const char* folder);

// folder, then a backslash when `separator`, then the name up to its first
// NUL. On POSIX the separator and the real backslashes of the folder and of
// the name become slashes. A null folder counts as empty.
std::string EntryPath(const char* folder, bool separator, const char* name);
