// The structure of a whole package script, checked before its first entry
// touches a file, so that a damaged script changes nothing at all.
//
// The check reads the script with the entry loop's own reader
// (script_reader.h): the same end conditions, the same framing of BookDiff
// lists (the end of the data ends a list anywhere, also inside a group or a
// record), and the same checks of each entry in the same order, the names
// of the entries before it among them. It reads only the script's bytes, in
// one pass.
#pragma once

#include <cstdint>

#include "package/script_reader.h"

struct ApplyReport;

// Checks every entry of the script up to its end or its first end condition:
// every entry header and name (its length, its NUL last, CheckEntryNames),
// the number of entries (MaxPackageEntries), names that play two roles
// across the script (ScriptNames), the length of every KindFile payload and
// the framing of every BookDiff list. ApplyOk when none is damaged or
// refused. Otherwise the result that the entry loop gives for the first such
// entry (ApplyDamaged or ApplyUnsafeName); `report`, when given, is then
// filled in as the loop fills it for that entry (its kind, its names as far
// as they were read, the cause) with no entry applied and failedEntry the
// entry's number. Time n log n in the entries. May throw std::bad_alloc.
int32_t CheckPackageScript(const uint8_t* script, uint32_t length, ApplyReport* report);
