// The structure of a whole package script, checked before its first entry
// touches a file, so that a damaged script changes nothing at all.
//
// The check reads the script exactly as the entry loop does: the same end
// conditions (a kind outside 0 to 2, a name length of 0, the end of the data
// inside an entry header, the end of the data behind an entry), the same
// framing of BookDiff lists (the end of the data ends a list anywhere, also
// inside a group or a record), and the same checks of each entry in the same
// order. It reads only the script's bytes, in one pass, and keeps no more
// than a few counters.
#pragma once

#include <cstdint>

struct ApplyReport;

// How a BookDiff list held in memory ends.
enum DiffListEnding : int32_t {
  ListTerminated = 0,            // by its terminator, which belongs to the list
  ListEndsBeforeTerminator = 1,  // no byte is left where a group or the
                                 // terminator begins
  ListEndsInTerminator = 2,      // 1 to 3 bytes are left there
  ListEndsInGroupHead = 3,       // inside a group's high word or count
  ListEndsInRecords = 4,         // inside a group's records
};

// Called with each 8-byte record that the merge reads in full, in stream
// order; `context` is passed through.
using DiffRecordVisitor = void (*)(const uint8_t* record, void* context);

// The framing of one BookDiff list.
struct DiffListFrame {
  uint32_t end = 0;  // behind the terminator, or the
                     // end of the data
  DiffListEnding ending = ListTerminated;
  uint32_t groups = 0;    // groups read in full
  uint32_t cutAt = 0;     // where the group or terminator
                          // that the data cuts short begins
  uint32_t cutCount = 0;  // the record count of a group cut
                          // short inside its records
};

// Frames the BookDiff list that begins at offset `at` of the `size` bytes
// (groups of u32 low, u32 high, u8 count and count 8-byte records, ended by
// a u32 below 64 or equal to 0xFFFFFFFF) as the book merge reads it: where
// it ends and how. `at` may equal `size`. `visit`, when given, sees every
// record read in full, including those of a group cut short; without it the
// records are passed over, not read. Never reads outside the bytes.
DiffListFrame FrameBookDiffList(const uint8_t* bytes, uint32_t size, uint32_t at,
                                DiffRecordVisitor visit = nullptr, void* context = nullptr);

// Checks every entry of the script up to its end or its first end condition:
// every entry header and name (its length, its NUL last, CheckEntryNames),
// the number of entries (MaxPackageEntries), the length of every KindFile
// payload and the framing of every BookDiff list. ApplyOk when none is
// damaged or refused. Otherwise the result that the entry loop gives for the
// first such entry (ApplyDamaged or ApplyUnsafeName); `report`, when given,
// is then filled in as the loop fills it for that entry (its kind, its names
// as far as they were read, the cause) with no entry applied and failedEntry
// the entry's number. Linear time; allocates only for a failure's names.
int32_t CheckPackageScript(const uint8_t* script, uint32_t length, ApplyReport* report);
