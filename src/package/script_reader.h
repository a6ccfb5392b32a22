// The one reader of the package script's grammar. The whole-script check
// (script_check.h), the entry loop (package_entries.h) and the publisher's
// walk over a script (publish/package_script.h) read each entry's head, check
// it and frame its payload here, so that they cannot read a script two ways.
//
// An entry: u32 kind (0 to 2), u8 L1, oldName (L1 bytes, its NUL last), u8
// L2, newName (L2 bytes, its NUL last), then the payload of its kind: one
// BookDiff list (KindBook), an ignored u32 and 64 lists (KindDividedBook),
// or u32 N and N bytes (KindFile). A kind outside 0 to 2, a name length of
// 0, and the end of the data before a kind or a length end the script: what
// came before is the script. A name cut short or without its NUL is damage.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "package/file_names.h"

class ByteStream;

// How reading an entry's head ended.
enum HeadEnding : int32_t {
  HeadRead = 0,              // the kind and both names, each ending in its NUL
  HeadEndsBeforeKind = 1,    // fewer than 4 bytes are left where a kind begins
  HeadEndsByKind = 2,        // a kind outside 0 to 2
  HeadEndsBeforeLength = 3,  // the data ends where a name's length belongs
  HeadEndsByLength = 4,      // a name's length is 0
  HeadNameCutShort = 5,      // damage: the data ends inside a name
  HeadNameWithoutNul = 6,    // damage: a name's last byte is no NUL
};

// True for the endings that end the script cleanly, behind the entries
// before this one.
inline bool EndsScript(HeadEnding ending) { return ending >= HeadEndsBeforeKind && ending <= HeadEndsByLength; }

struct ScriptName {
  uint32_t at = 0;      // where its length byte stands
  int32_t length = -1;  // its length byte, NUL counted; -1 where the data ends
  std::string bytes;    // the bytes read of it: all `length`, or those left

  // The name as the entry uses it: up to its first NUL.
  std::string Text() const { return bytes.substr(0, bytes.find('\0')); }
};

struct EntryHead {
  uint32_t at = 0;    // where the entry begins
  int32_t kind = -1;  // as read; -1 also where fewer than 4 bytes are left
  ScriptName oldName;
  ScriptName newName;
  bool inNewName = false;  // the ending other than HeadRead concerns newName
};

// Reads the head of the entry at the stream's position (a read stream over
// the script). Behind HeadRead the stream stands at the payload. May throw
// std::bad_alloc.
HeadEnding ReadEntryHead(ByteStream* script, EntryHead* head);

// The names of the entries of a script so far, by which a name that plays
// two roles across the script is refused: an entry's old name that is
// another entry's new name (an entry would take the file written by
// another for the present one, or keep the present file where another
// writes), or two entries keeping different files under one old name (the
// second would find the name taken and keep nothing). A repetition of an
// entry's pair of names is allowed: it keeps nothing twice. Names are
// compared as Windows' file system compares them (CompareFileNames).
class ScriptNames {
 public:
  // Null when the entry's names may stand beside those before it, and then
  // they are added; otherwise why not. May throw std::bad_alloc.
  const char* Add(const std::string& oldName, const std::string& newName);

 private:
  std::map<std::string, std::string, FileNameOrder> kept_;  // old name: the new name kept there
  std::set<std::string, FileNameOrder> written_;            // the new names
};

// The checks of an entry whose head was read whole, in order, before any
// file is touched: the number of entries (`index` from 0, MaxPackageEntries),
// both names (CheckEntryNames), the names of the entries before it (`names`,
// to which it adds them) and, for KindFile, that its payload lies inside the
// script. 0, or ApplyDamaged or ApplyUnsafeName with `cause` set. The stream
// stands at the payload and stays there. May throw std::bad_alloc.
int32_t CheckEntryHead(ByteStream* script, const EntryHead& head, int32_t index, ScriptNames* names,
                       const char** cause);

// True when the KindFile payload at the stream's position (u32 N, then N
// bytes) lies wholly inside the script. The position is left where it was.
bool FilePayloadFits(ByteStream* script);

// An entry's head read (ReadEntryHead) and checked (CheckEntryHead), as the
// whole-script check and the entry loop take it: 0 with the stream at the
// payload; EntryEndsScript for an end condition; ApplyDamaged for a name cut
// short or without its NUL, and the results of CheckEntryHead, with `cause`
// set. `head` holds what was read. May throw std::bad_alloc.
constexpr int32_t EntryEndsScript = 1;
int32_t ReadCheckedEntry(ByteStream* script, int32_t index, ScriptNames* names, EntryHead* head,
                         const char** cause);

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
// order, and the head of its group (the position's key: u32 low, u32 high);
// `context` is passed through.
using DiffRecordVisitor = void (*)(const uint8_t* group, const uint8_t* record, void* context);

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

// Where the payload of a `kind` entry that begins at `at` ends, as the
// applier reads it: the end of the data ends a list anywhere, and a divided
// book's leading word is read whole or not at all. A KindFile payload is
// taken to fit (CheckEntryHead has seen to it).
uint32_t PayloadEnd(const uint8_t* bytes, uint32_t size, uint32_t at, int32_t kind);
