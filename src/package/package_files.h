// The file operations that applying a package performs on an install folder,
// behind one small interface: the real one over FileStream and the C runtime,
// and in the tests one that makes a chosen operation fail.
//
// Every path is a NUL-terminated narrow path in the system code page.
#pragma once

#include <cstdint>
#include <string>

class ByteStream;

// What stands under a path.
enum PathState : int32_t {
  PathAbsent = 0,  // nothing, or nothing that can be looked at
  PathFile = 1,    // a regular file
  PathOther = 2,   // a folder or anything else that is not a regular file:
                   // a FIFO, a device, a link that leads nowhere
};

// Whether two paths lead to one file.
enum FileIdentity : int32_t {
  FilesApart = 0,    // two files, or either path leads to none
  FilesOneName = 1,  // one file that has a single name, which both paths
                     // reach (two spellings, or a link on the way)
  FilesLinked = 2,   // one regular file under two names or more (hard
                     // links), neither path a link of its own
};

// The result of Link and Replace where this platform or file system cannot do
// them; nothing has been done then, and the caller takes the longer way.
constexpr int32_t FilesCannot = 1;

// The result of Rename, Link, Replace and Remove when another program has
// the file open and refuses the step for now: a virus scanner or the search
// indexer reading a file just written, or a program running from the file,
// which Windows lets be renamed and linked but neither replaced nor removed.
// Nothing has been done; the same step may succeed a moment later.
constexpr int32_t FilesInUse = -2;

class PackageFiles {
 public:
  virtual ~PackageFiles() = default;

  // A read stream over the regular file under the path, or null; never
  // opens, nor waits on, a FIFO or a device. The caller Release(true)s it.
  virtual ByteStream* OpenForReading(const char* path) = 0;
  // A write stream over a regular file made afresh under the path, or null
  // when anything stands there already, a link that leads nowhere included:
  // nothing is ever written through a link or into an existing file.
  virtual ByteStream* OpenForWriting(const char* path) = 0;
  // Writes a stream from OpenForWriting through to the disk. 0, or -1 when
  // this or any earlier write on it failed.
  virtual int32_t Commit(ByteStream* file) = 0;
  // Closes a stream from either opener now. 0, or -1 when the close or any
  // earlier read or write on it failed. The stream still has to be released.
  virtual int32_t Close(ByteStream* file) = 0;
  // Renames `from` to `to` and never replaces: when something already stands
  // under `to`, nothing moves and the result is -1. 0 when moved. Rename,
  // Link, Replace and Remove may also give FilesInUse.
  virtual int32_t Rename(const char* from, const char* to) = 0;
  // Gives the file under `present` the second name `second` as well (a hard
  // link: one content under two names), never replacing anything under
  // `second`. 0 when linked, -1 when it failed, FilesCannot when links are
  // not to be had here.
  virtual int32_t Link(const char* present, const char* second) = 0;
  // Renames `from` to `to` in one step, replacing the file under `to` if
  // there is one: at no moment is `to` without a complete file. 0 when moved,
  // -1 when nothing moved, FilesCannot when this platform has no such rename.
  virtual int32_t Replace(const char* from, const char* to) = 0;
  // Removes the file. 0, or -1 (a read-only file among the failures).
  virtual int32_t Remove(const char* path) = 0;
  // What stands under the path. Never fails.
  virtual PathState Exists(const char* path) = 0;
  // Whether the file under the path is read-only, as files copied from a
  // CD-ROM often are: Windows' read-only attribute, or elsewhere a file its
  // owner may not write. Windows lets such a file be renamed, and it keeps
  // the mark under its new name and under every name Link gives it, but it
  // can be neither replaced, removed nor opened for writing; the applier
  // treats every read-only file so. False where no regular file stands, a
  // link included.
  virtual bool IsReadOnly(const char* path) = 0;
  // Puts the read-only mark on the regular file under the path, or takes it
  // off; never follows a link. The applier takes it off its own temporary
  // files only, right before it removes them, and puts it back only when
  // that removal then failed: no product file's mark is ever changed. 0, or
  // -1.
  virtual int32_t MarkReadOnly(const char* path, bool readOnly) = 0;
  // Whether the two paths lead to one file, by the file's identity (its
  // volume and its number there), not by the paths' spellings. Never fails;
  // FilesApart where the platform cannot tell.
  virtual FileIdentity Identity(const char* one, const char* other) = 0;
  // Lets the calling thread wait about `milliseconds` before a step refused
  // with FilesInUse is tried again. The system's own sleeps; the tests'
  // folders count the time instead.
  virtual void Pause(int32_t milliseconds);
  // The path in a form that reaches the file however long it is (Windows'
  // \\?\ form of the full path), for the applier's own temporary files whose
  // plain path is longer than the system takes; empty where there is no
  // such form or no need of one (the default).
  virtual std::string LongForm(const char* path);
};

// The longest plain path, in bytes, that every system the updater runs on
// takes: Windows' MAX_PATH, 260 with the terminator. A double-byte character
// counts as one of Windows' characters but two bytes, so the bytes only ever
// overstate the length.
constexpr size_t PlainPathLimit = 259;

// The real file operations of this machine. Lives as long as the program.
PackageFiles* SystemPackageFiles();

// Renames without replacing, on this platform (0, or -1 when nothing moved).
int32_t RenameNoReplace(const char* from, const char* to);

// The link and the replacing rename of this platform, as PackageFiles has
// them.
int32_t LinkFile(const char* present, const char* second);
int32_t RenameReplacing(const char* from, const char* to);
