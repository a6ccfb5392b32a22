// The update data file (UpdatePackage) and the interpreter of its package
// script.
//
// Update data file: u32 packedSize, u32 rawSize, then a zlib stream that
// unpacks to the rawSize bytes of the package script. The script is a run of
// PackageEntry records: u32 kind, u8 L1, oldName (L1 bytes, NUL last), u8 L2,
// newName (L2 bytes, NUL last), then the payload of the kind.
//
// An entry keeps the present file under oldName and writes the new content
// under newName. The new content is built completely beside the target under
// a temporary name and flushed to the disk before anything is renamed, so an
// entry that fails leaves the folder as it found it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ByteStream;
class PackageFiles;

enum EntryKind : int32_t {
  KindBook = 0,         // payload: one BookDiff list
  KindDividedBook = 1,  // payload: an ignored u32, then 64 BookDiff lists
  KindFile = 2,         // payload: u32 N, then the N bytes of the new content
};

// Results of ApplyPackage, ApplyPackageEntries and CopyPayload. Every failure
// ends the package: the entries before the failed one stay applied, the
// failed one and those behind it are not applied.
constexpr int32_t ApplyOk = 0;             // ran to the end or an end condition
constexpr int32_t ApplyNoOldFile = -1;     // a book entry finds no readable old
                                           // file, or no stream over the script
constexpr int32_t ApplyCannotCreate = -2;  // the new file cannot be created
constexpr int32_t ApplyWriteFailed = -3;   // the new content could not be made
                                           // or put in place: the merge failed,
                                           // the old file could not be read, a
                                           // write, flush, close or rename failed
constexpr int32_t ApplyDamaged = -4;       // the script is damaged: a name
                                           // without its NUL or cut short, a
                                           // payload beyond the script's end
constexpr int32_t ApplyUnsafeName = -5;    // a name reaches outside the folder
                                           // or is otherwise refused

// The largest package script accepted from an update data file.
constexpr uint32_t MaxScriptSize = 1u << 30;

// The most entries one script may hold: far more files than a product has,
// and few enough that a hostile script cannot fill a folder with files by the
// million. The entry beyond it is refused as damage.
constexpr int32_t MaxPackageEntries = 16384;

// What an application did, for callers that tell a person about it.
struct ApplyReport {
  int32_t entriesApplied = 0;  // entries carried out completely
  int32_t failedEntry = 0;     // number of the entry that failed, from 1;
                               // 0 when none did
  int32_t failedKind = -1;     // kind of the entry that failed, or -1
  std::string oldName;         // the failed entry's names, as far as read
  std::string newName;
  const char* cause = nullptr;  // why it failed, in English; null on success
  int32_t systemError = 0;      // the system's error number (errno) behind
                                // the failure: ENOSPC for a full disk,
                                // ENOMEM when memory ran out; 0 when the
                                // package itself is at fault or none is known
};

// Reads the update data file at `path` and unpacks its script into `script`.
// Returns
//   0   the script is in `script`;
//   -1  the file cannot be opened or read;
//   -1  its sizes are damaged: packedSize beyond the file, rawSize beyond
//       what deflate can make of packedSize bytes or beyond MaxScriptSize;
//   -1  its zlib stream does not unpack to exactly rawSize bytes;
//   -1  memory runs out.
// On failure `script` is left empty, nothing else has been touched, `cause`
// (when given) receives a short English reason and `systemError` (when
// given) the system's error number behind it (ENOMEM when memory ran out),
// or 0 for a damaged file.
int32_t ReadUpdatePackage(const char* path, std::vector<uint8_t>* script, const char** cause = nullptr,
                          int32_t* systemError = nullptr);

// Applies the unpacked script (which stays the caller's) to the install
// folder (with or without a final backslash; null counts as empty). Returns
// one of the Apply results. The whole script is checked first
// (CheckPackageScript): a damaged script, or one with a refused name, fails
// as its entry loop would fail at that entry, but before any file is
// touched. Memory that runs out fails the entry at hand with
// ApplyWriteFailed and ENOMEM; nothing is thrown. `report`, when given, is
// filled in; `files` defaults to SystemPackageFiles(). Books are merged on
// `threads` threads (the programs pass their own count); the bytes are the
// same for any count.
int32_t ApplyPackage(uint8_t* script, uint32_t length, const char* folder, ApplyReport* report = nullptr,
                     PackageFiles* files = nullptr, int32_t threads = 1);
