// The entry loop of a package script and the carrying out of one entry.
//
// An entry never works on its target in place. The new content is built
// under the target's name plus TempNewSuffix, from the old content read under
// oldName when a file stands there and under newName otherwise; it is flushed
// to the disk and closed, and only then renamed: the present file to oldName
// when that name is free, and the new file to newName. Every failure on the
// way removes the temporary file and undoes the renames made so far, so a
// failed entry leaves the folder holding what it held before.
#include <memory>
#include <new>
#include <string>

#include "book/book_body.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "package/entry_path.h"
#include "package/package_files.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"

namespace {

constexpr int32_t EndOfScript = 1;  // a clean end between entries

struct Entry {
  PackageFiles* files;
  int32_t kind;
  std::string oldPath;
  std::string newPath;
  std::string tempPath;  // the new content while it is built
  std::string keepPath;  // the replaced content while the new one moves in
  const char* cause = nullptr;

  int32_t Fail(int32_t result, const char* why) {
    cause = why;
    return result;
  }
};

// Reads one length byte and the name behind it into `name` (up to its first
// NUL). EndOfScript for a length of 0 or the end of the data there.
int32_t ReadName(ByteStream* package, std::string* name, const char** cause) {
  const int32_t length = package->ReadU8();
  if (length < 1) return EndOfScript;
  char bytes[256];
  const int32_t got = package->Read(reinterpret_cast<uint8_t*>(bytes), length);
  if (got != length) {
    bytes[got > 0 ? got : 0] = '\0';
    name->assign(bytes);
    *cause = "a name is cut short by the end of the script";
    return ApplyDamaged;
  }
  bytes[length] = '\0';
  name->assign(bytes);
  if (bytes[length - 1] != '\0') {
    *cause = "a name does not end with its NUL";
    return ApplyDamaged;
  }
  return 0;
}

// What remains of the package behind its position, found without reading.
uint32_t Remaining(ByteStream* package) {
  const uint32_t here = static_cast<uint32_t>(package->Tell());
  package->Seek(0, true);
  const uint32_t end = static_cast<uint32_t>(package->Tell());
  package->Seek(static_cast<int32_t>(here), false);
  return end > here ? end - here : 0;
}

// True when the KindFile payload at the package's position lies wholly inside
// the script. The position is left where it was.
bool PayloadFits(ByteStream* package) {
  const uint32_t remaining = Remaining(package);
  if (remaining < 4) return false;
  const int32_t here = package->Tell();
  const uint32_t length = static_cast<uint32_t>(package->ReadU32());
  package->Seek(here, false);
  return length <= remaining - 4;
}

int32_t WriteContent(ByteStream* package, Entry* entry, ByteStream* source, ByteStream* target) {
  if (entry->kind == KindFile) {
    const int32_t copied = CopyPayload(package, nullptr, target);
    if (copied == ApplyDamaged) return entry->Fail(copied, "the payload runs past the end of the script");
    if (copied != 0) return entry->Fail(copied, "the new file cannot be written");
    return 0;
  }
  // The old file's magic is passed over without comparing it: the entry's
  // kind says what the file is.
  uint8_t magic[8];
  if (source->Read(magic, 8) != 8) return entry->Fail(ApplyWriteFailed, "the old file is too short for a book");
  const bool divided = entry->kind == KindDividedBook;
  if (target->Write(divided ? DividedBookMagic : BookFileMagic, 8) != 8) {
    return entry->Fail(ApplyWriteFailed, "the new file cannot be written");
  }
  if (divided) {
    if (MergeDividedBook(package, source, target) != 0) {
      return entry->Fail(ApplyWriteFailed, "the divided book cannot be merged");
    }
  } else if (MergeBookDiff(package, source, target) == MergeFailed) {
    return entry->Fail(ApplyWriteFailed, "the book cannot be merged");
  }
  return 0;
}

// Moves the finished temporary file into place. On failure every rename made
// here is undone; the caller removes the temporary file.
int32_t PutInPlace(Entry* entry, PathState oldState, PathState newState) {
  PackageFiles* files = entry->files;
  const char* oldPath = entry->oldPath.c_str();
  const char* newPath = entry->newPath.c_str();
  const char* tempPath = entry->tempPath.c_str();
  const char* keepPath = entry->keepPath.c_str();
  const char* notMoved = "the new file cannot be renamed into place";

  if (newState == PathAbsent) {
    if (files->Rename(tempPath, newPath) != 0) return entry->Fail(ApplyWriteFailed, notMoved);
    return 0;
  }
  if (oldState == PathAbsent) {
    if (files->Rename(newPath, oldPath) != 0) {
      return entry->Fail(ApplyWriteFailed, "the present file cannot be renamed to the old name");
    }
    if (files->Rename(tempPath, newPath) != 0) {
      files->Rename(oldPath, newPath);
      return entry->Fail(ApplyWriteFailed, notMoved);
    }
    return 0;
  }
  // oldName already keeps an earlier content (a second application, or what
  // an earlier update kept), so the present file under newName is replaced.
  // It steps aside under keepPath rather than being removed first, so that
  // newName is never without a file for longer than between two renames.
  // A keepPath that stands here while newName stands is a leftover of a run
  // that was cut off after its new file was in place.
  if (files->Exists(keepPath) != PathAbsent && files->Remove(keepPath) != 0) {
    return entry->Fail(ApplyWriteFailed, "a leftover file of an earlier update cannot be removed");
  }
  if (files->Rename(newPath, keepPath) != 0) {
    return entry->Fail(ApplyWriteFailed, "the present file cannot be set aside");
  }
  if (files->Rename(tempPath, newPath) != 0) {
    files->Rename(keepPath, newPath);
    return entry->Fail(ApplyWriteFailed, notMoved);
  }
  if (files->Remove(keepPath) != 0) {
    // Rather than leave a stray file, the entry is undone and fails.
    files->Rename(newPath, tempPath);
    files->Rename(keepPath, newPath);
    return entry->Fail(ApplyWriteFailed, "the replaced file cannot be removed");
  }
  return 0;
}

int32_t CarryOut(ByteStream* package, Entry* entry) {
  PackageFiles* files = entry->files;
  const PathState oldState = files->Exists(entry->oldPath.c_str());
  const PathState newState = files->Exists(entry->newPath.c_str());
  if (newState == PathOther) return entry->Fail(ApplyCannotCreate, "something other than a file stands under the new name");

  StreamPtr source;
  if (entry->kind != KindFile) {
    if (oldState == PathOther || (oldState == PathAbsent && newState == PathAbsent)) {
      return entry->Fail(ApplyNoOldFile, "no old file stands under either name");
    }
    source.reset(files->OpenForReading(oldState == PathFile ? entry->oldPath.c_str() : entry->newPath.c_str()));
    if (!source) return entry->Fail(ApplyNoOldFile, "the old file cannot be opened for reading");
  }

  StreamPtr temp(files->OpenForWriting(entry->tempPath.c_str()));
  if (!temp) {
    if (source) files->Close(source.get());
    return entry->Fail(ApplyCannotCreate, "the new file cannot be created");
  }

  int32_t result = WriteContent(package, entry, source.get(), temp.get());
  if (result == 0 && files->Commit(temp.get()) != 0) {
    result = entry->Fail(ApplyWriteFailed, "the new file cannot be written to the disk");
  }
  // Both closes are made and looked at, so that a read or a write that failed
  // unnoticed inside a merge still fails the entry.
  const int32_t tempClosed = files->Close(temp.get());
  temp.reset();
  if (result == 0 && tempClosed != 0) result = entry->Fail(ApplyWriteFailed, "the new file cannot be closed");
  if (source) {
    const int32_t sourceClosed = files->Close(source.get());
    source.reset();
    if (result == 0 && sourceClosed != 0) result = entry->Fail(ApplyWriteFailed, "the old file cannot be read");
  }

  if (result == 0) result = PutInPlace(entry, oldState, newState);
  if (result != 0) files->Remove(entry->tempPath.c_str());
  return result;
}

}  // namespace

int32_t CopyPayload(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  (void)oldFile;
  if (!PayloadFits(package)) return ApplyDamaged;
  const uint32_t length = static_cast<uint32_t>(package->ReadU32());
  if (length == 0) return 0;
  // PayloadFits has bounded the length by the script, which is in memory;
  // the copy still may not find the memory for a second block of that size.
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length]);
  if (!block) return ApplyWriteFailed;
  const int32_t count = static_cast<int32_t>(length);
  if (package->Read(block.get(), count) != count) return ApplyDamaged;
  if (newFile->Write(block.get(), count) != count) return ApplyWriteFailed;
  return 0;
}

int32_t ApplyPackageEntries(ByteStream* package, const char* folder, ApplyReport* report,
                            PackageFiles* files) {
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  *report = ApplyReport();
  if (files == nullptr) files = SystemPackageFiles();
  const bool separator = FolderNeedsSeparator(folder);

  if (package->AtEnd() != 0) return ApplyOk;
  for (;;) {
    Entry entry;
    entry.files = files;
    entry.kind = package->ReadU32();
    if (entry.kind < KindBook || entry.kind > KindFile) return ApplyOk;

    std::string oldName, newName;
    int32_t result = ReadName(package, &oldName, &entry.cause);
    if (result == 0) result = ReadName(package, &newName, &entry.cause);
    if (result == EndOfScript) return ApplyOk;

    if (result == 0) {
      const char* refused = CheckEntryName(oldName.c_str());
      if (refused == nullptr) refused = CheckEntryName(newName.c_str());
      if (refused != nullptr) result = entry.Fail(ApplyUnsafeName, refused);
    }
    if (result == 0 && entry.kind == KindFile && !PayloadFits(package)) {
      result = entry.Fail(ApplyDamaged, "the payload runs past the end of the script");
    }
    if (result == 0) {
      entry.oldPath = EntryPath(folder, separator, oldName.c_str());
      entry.newPath = EntryPath(folder, separator, newName.c_str());
      entry.tempPath = entry.newPath + TempNewSuffix;
      entry.keepPath = entry.newPath + TempKeepSuffix;
      result = CarryOut(package, &entry);
    }
    if (result != 0) {
      report->failedKind = entry.kind;
      report->oldName = oldName;
      report->newName = newName;
      report->cause = entry.cause;
      return result;
    }
    ++report->entriesApplied;
    if (package->AtEnd() != 0) return ApplyOk;
  }
}
