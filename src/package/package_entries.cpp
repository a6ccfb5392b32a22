// The entry loop of a package script and the carrying out of one entry.
//
// An entry never works on its target in place. The new content is built
// in a temporary file of its own beside the target (TempEntryName), from the
// old content read under oldName when a file stands there and under newName
// otherwise; it is flushed to the disk and closed, and only then put in
// place: the present file is kept under oldName when that name is free, and
// the new file takes newName. An entry that would lose the present file (its
// second name taken by a folder, a FIFO or the like, or both names leading to
// one file) is refused before anything is done.
// Every failure on the way removes the temporary file and undoes the renames
// made so far, so a failed entry leaves the folder holding what it held
// before; a run cut off half way leaves every file complete under its own
// name, and the next run clears what it left (ClearLeftovers).
#include "package/package_entries.h"

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "book/book_body.h"
#include "book/book_merge.h"
#include "book/divided_book.h"
#include "package/entry_path.h"
#include "package/package_files.h"
#include "package/patient_package_files.h"
#include "package/script_reader.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"

namespace {

struct Entry {
  PackageFiles* files;
  const char* folder;  // the install folder, as the caller gave it
  bool separator;      // whether a separator goes behind it
  int32_t threads;     // that merge a book
  int32_t kind;
  std::string oldPath;
  std::string newPath;
  std::string tempPath;         // the new content while it is built
  std::string keepPath;         // the replaced content while the new one moves in
  std::string earlierTempPath;  // the same two as earlier updaters named
  std::string earlierKeepPath;  // them, cleared when a run of theirs left one
  const char* cause = nullptr;
  int32_t systemError = 0;  // errno of the failed call

  // Called right after the call that failed, before anything else can touch
  // errno. A damaged or refused script is no failure of the system's.
  int32_t Fail(int32_t result, const char* why) {
    cause = why;
    systemError = result == ApplyDamaged || result == ApplyUnsafeName ? 0 : errno;
    return result;
  }
};

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
  if (source->Read(magic, 8) != 8)
    return entry->Fail(ApplyWriteFailed, "the old file is too short for a book");
  const bool divided = entry->kind == KindDividedBook;
  if (target->Write(divided ? DividedBookMagic : BookFileMagic, 8) != 8) {
    return entry->Fail(ApplyWriteFailed, "the new file cannot be written");
  }
  if (divided) {
    if (MergeDividedBook(package, source, target, entry->threads) != 0) {
      return entry->Fail(ApplyWriteFailed, "the divided book cannot be merged");
    }
  } else if (MergeBookDiff(package, source, target, entry->threads) == MergeFailed) {
    return entry->Fail(ApplyWriteFailed, "the book cannot be merged");
  }
  return 0;
}

// Removes one of the entry's own temporary files. It may be read-only: a
// file set aside keeps the mark of the product file it was, and a run cut off
// may leave it so. Windows removes no read-only file, so the mark comes off
// first, and goes back on when the removal fails all the same, for a file
// that is then put back in place. errno tells the failure.
int32_t RemoveTemporary(PackageFiles* files, const char* path) {
  if (!files->IsReadOnly(path)) return files->Remove(path);
  if (files->MarkReadOnly(path, false) != 0) return -1;
  if (files->Remove(path) == 0) return 0;
  const int error = errno;
  files->MarkReadOnly(path, true);
  errno = error;
  return -1;
}

// The three ways of moving the finished temporary file into place, by what
// stands under the entry's two names. On failure each undoes every rename it
// made; the caller removes the temporary file.
//
// Where the platform can, the present file is linked to oldName and the new
// file then replaces it under newName in one step, so that newName never
// stands empty, not even for a moment. Elsewhere it takes two renames, and
// between them the present content stands complete under oldName (or under
// keepPath, which the next run puts back; see ClearLeftovers).
//
// A read-only present file always takes the two renames: Windows replaces no
// read-only file, and a second name made by a link would share the mark and
// could not be removed again. A rename keeps the mark, so the kept file stays
// read-only, and the new file is an ordinary one, as every file written here.
// The mark of a file standing under its own name is never touched: a run cut
// off at any moment leaves the product file marked under newName, oldName or
// keepPath, never stripped of its mark.

const char* const NotMoved = "the new file cannot be renamed into place";

// Nothing stands under newName: the new file takes the name.
int32_t PutNew(Entry* entry) {
  if (entry->files->Rename(entry->tempPath.c_str(), entry->newPath.c_str()) != 0) {
    return entry->Fail(ApplyWriteFailed, NotMoved);
  }
  return 0;
}

// The present file moves to oldName and the new file into the freed name:
// the two renames that a read-only present file, a running program's file
// or a system without links takes.
int32_t RenameAndPut(Entry* entry) {
  PackageFiles* files = entry->files;
  const char* oldPath = entry->oldPath.c_str();
  const char* newPath = entry->newPath.c_str();
  if (files->Rename(newPath, oldPath) != 0) {
    return entry->Fail(ApplyWriteFailed, "the present file cannot be renamed to the old name");
  }
  if (files->Rename(entry->tempPath.c_str(), newPath) != 0) {
    files->Rename(oldPath, newPath);
    return entry->Fail(ApplyWriteFailed, NotMoved);
  }
  return 0;
}

// The replace was refused because the present file is in use, and oldName,
// its second name, could not be removed again either. That is a program
// running from the file: Windows renames and links such a file but removes
// none of its names. oldName keeps the present content already; the name
// under newName steps aside to keepPath and the new file takes it. keepPath
// is then a third name of the same file, and stays when it cannot be removed
// yet: the next run removes it (ClearLeftovers), with nothing lost meanwhile.
int32_t PutBesideRunning(Entry* entry) {
  PackageFiles* files = entry->files;
  const char* newPath = entry->newPath.c_str();
  const char* keepPath = entry->keepPath.c_str();
  if (files->Rename(newPath, keepPath) != 0) {
    return entry->Fail(ApplyWriteFailed, "the present file is in use and cannot be set aside");
  }
  if (files->Rename(entry->tempPath.c_str(), newPath) != 0) {
    files->Rename(keepPath, newPath);
    return entry->Fail(ApplyWriteFailed, NotMoved);
  }
  files->Remove(keepPath);
  return 0;
}

// oldName is free: whatever the present file holds, even exactly the new
// content (as on a second application of a package that made it), it is
// kept under oldName and newName is written afresh.
int32_t KeepAndPut(Entry* entry) {
  PackageFiles* files = entry->files;
  const char* oldPath = entry->oldPath.c_str();
  const char* newPath = entry->newPath.c_str();
  const int32_t linked = files->IsReadOnly(newPath) ? FilesCannot : files->Link(newPath, oldPath);
  if (linked < 0) return entry->Fail(ApplyWriteFailed, "the present file cannot be kept under the old name");
  if (linked == 0) {
    const int32_t replaced = files->Replace(entry->tempPath.c_str(), newPath);
    if (replaced == 0) return 0;
    const int32_t unlinked = files->Remove(oldPath);  // the second name of the present file
    // A file in use that cannot be replaced may still be renamed, as a
    // read-only one: it takes the two renames once oldName is free again.
    if (replaced == FilesInUse && unlinked != 0) return PutBesideRunning(entry);
    if (replaced < 0 && replaced != FilesInUse) return entry->Fail(ApplyWriteFailed, NotMoved);
  }
  return RenameAndPut(entry);
}

// oldName already keeps an earlier content (a second application, or what
// an earlier update kept), so the present file under newName is replaced.
int32_t ReplacePresent(Entry* entry) {
  PackageFiles* files = entry->files;
  const char* newPath = entry->newPath.c_str();
  const char* tempPath = entry->tempPath.c_str();
  const char* keepPath = entry->keepPath.c_str();
  const int32_t replaced = files->IsReadOnly(newPath) ? FilesCannot : files->Replace(tempPath, newPath);
  if (replaced == 0) return 0;
  if (replaced < 0) return entry->Fail(ApplyWriteFailed, NotMoved);
  // Without a replacing rename the present file steps aside under keepPath
  // rather than being removed first, so that newName is never without a file
  // for longer than between two renames. A read-only one loses its mark only
  // there, as a temporary file about to go; taking it off in place before a
  // replacing rename would leave the product file unmarked for good were the
  // run cut off between the two.
  if (files->Rename(newPath, keepPath) != 0) {
    return entry->Fail(ApplyWriteFailed, "the present file cannot be set aside");
  }
  if (files->Rename(tempPath, newPath) != 0) {
    files->Rename(keepPath, newPath);
    return entry->Fail(ApplyWriteFailed, NotMoved);
  }
  if (RemoveTemporary(files, keepPath) != 0) {
    // Rather than leave a stray file, the entry is undone and fails.
    files->Rename(newPath, tempPath);
    files->Rename(keepPath, newPath);
    return entry->Fail(ApplyWriteFailed, "the replaced file cannot be removed");
  }
  return 0;
}

int32_t PutInPlace(Entry* entry, PathState oldState, PathState newState) {
  if (newState == PathAbsent) return PutNew(entry);
  if (oldState == PathAbsent) return KeepAndPut(entry);
  return ReplacePresent(entry);
}

// Deals with one pair of temporary files of this entry that a run cut off
// (killed, or the power gone) left behind, before anything is looked at. A
// keepPath file standing where newName is missing is the present content
// itself, caught between two renames, and goes back under newName; beside a
// file under newName it is the replaced content and goes, read-only or not. A
// tempPath file is always a half-made or unused new file. Anything else under either name (a
// link, a FIFO, an empty folder) is no file of an update's and is removed as
// it stands, never followed; what cannot be removed refuses the entry.
int32_t ClearLeftoverPair(Entry* entry, const char* keepPath, const char* tempPath) {
  PackageFiles* files = entry->files;
  const char* cannot = "a leftover file of an earlier update cannot be removed";
  const PathState keep = files->Exists(keepPath);
  if (keep == PathFile) {
    const PathState target = files->Exists(entry->newPath.c_str());
    if (target == PathOther) {
      // The set-aside file may be the only copy of the product file.
      return entry->Fail(ApplyCannotCreate, "something other than a file stands under the new name");
    }
    if (target == PathAbsent) {
      if (files->Rename(keepPath, entry->newPath.c_str()) != 0) {
        return entry->Fail(ApplyWriteFailed, "a file set aside by an earlier update cannot be put back");
      }
    } else if (RemoveTemporary(files, keepPath) != 0 &&
               files->Identity(keepPath, entry->oldPath.c_str()) != FilesLinked) {
      // A second name of the file kept under oldName (PutBesideRunning)
      // loses nothing by staying while its program still runs.
      return entry->Fail(ApplyWriteFailed, cannot);
    }
  } else if (keep == PathOther && files->Remove(keepPath) != 0) {
    return entry->Fail(ApplyWriteFailed, cannot);
  }
  if (files->Exists(tempPath) != PathAbsent && RemoveTemporary(files, tempPath) != 0) {
    return entry->Fail(ApplyWriteFailed, cannot);
  }
  return 0;
}

int32_t ClearLeftovers(Entry* entry) {
  const int32_t cleared = ClearLeftoverPair(entry, entry->keepPath.c_str(), entry->tempPath.c_str());
  if (cleared != 0) return cleared;
  return ClearLeftoverPair(entry, entry->earlierKeepPath.c_str(), entry->earlierTempPath.c_str());
}

int32_t CarryOut(ByteStream* package, Entry* entry) {
  PackageFiles* files = entry->files;
  const int32_t cleared = ClearLeftovers(entry);
  if (cleared != 0) return cleared;
  const PathState oldState = files->Exists(entry->oldPath.c_str());
  const PathState newState = files->Exists(entry->newPath.c_str());
  // A name found absent leaves its error behind; from here on errno names
  // only what really failed, and a refusal made from what stands under the
  // names names no error at all.
  errno = 0;
  if (newState == PathOther)
    return entry->Fail(ApplyCannotCreate, "something other than a file stands under the new name");
  if (newState == PathFile) {
    // The present file leaves newName only for oldName, or for nothing when
    // oldName keeps an earlier content; it must stay there, and not be lost
    // as the content of a folder's name or of newName itself.
    if (oldState == PathOther) {
      return entry->Fail(ApplyCannotCreate, "something other than a file stands under the old name");
    }
    // Two names of one file are what a run cut off right after linking
    // the present file to oldName leaves; the entry goes on from there.
    if (oldState == PathFile &&
        files->Identity(entry->oldPath.c_str(), entry->newPath.c_str()) == FilesOneName) {
      return entry->Fail(ApplyUnsafeName,
                         "both names lead to one file, which the entry would both keep and replace");
    }
  }
  StreamPtr source;
  if (entry->kind != KindFile) {
    if (oldState == PathOther || (oldState == PathAbsent && newState == PathAbsent)) {
      return entry->Fail(ApplyNoOldFile, "no old file stands under either name");
    }
    source.reset(
        files->OpenForReading(oldState == PathFile ? entry->oldPath.c_str() : entry->newPath.c_str()));
    if (!source) return entry->Fail(ApplyNoOldFile, "the old file cannot be opened for reading");
  }

  StreamPtr temp(files->OpenForWriting(entry->tempPath.c_str()));
  if (!temp) {
    const int32_t failed = entry->Fail(ApplyCannotCreate, "the new file cannot be created");
    if (source) files->Close(source.get());
    return failed;
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
    if (result == 0 && sourceClosed != 0)
      result = entry->Fail(ApplyWriteFailed, "the old file cannot be read");
  }

  if (result == 0) result = PutInPlace(entry, oldState, newState);
  if (result != 0) files->Remove(entry->tempPath.c_str());
  return result;
}

// A path of the entry's own temporary files. Their names are 24 bytes long
// whatever the entry's names are, so where the entry's own paths just fit
// the system's limit (a folder of 248 characters and joseki.dat) theirs may
// not: they then take the long form that reaches the file at any length.
// The entry's own paths never do; a name the products could not open
// either fails the entry as it stands.
std::string TemporaryPath(PackageFiles* files, std::string path) {
  if (path.size() <= PlainPathLimit) return path;
  std::string longForm = files->LongForm(path.c_str());
  if (longForm.empty()) return path;
  return longForm;
}

// Reads the entry's head and checks it (the script's own reader), and
// builds its paths: all that comes before the first file operation.
// EntryEndsScript for a clean end.
int32_t ReadEntryNames(ByteStream* package, Entry* entry, EntryHead* head, int32_t entriesApplied,
                       ScriptNames* names) {
  const int32_t result = ReadCheckedEntry(package, entriesApplied, names, head, &entry->cause);
  entry->kind = head->kind;
  if (result != 0) return result == EntryEndsScript ? result : entry->Fail(result, entry->cause);
  const char* folder = entry->folder;
  const char* newName = head->newName.bytes.c_str();
  entry->oldPath = EntryPath(folder, entry->separator, head->oldName.bytes.c_str());
  entry->newPath = EntryPath(folder, entry->separator, newName);
  PackageFiles* files = entry->files;
  entry->tempPath =
      TemporaryPath(files, EntryPath(folder, entry->separator, TempEntryName(newName, false).c_str()));
  entry->keepPath =
      TemporaryPath(files, EntryPath(folder, entry->separator, TempEntryName(newName, true).c_str()));
  entry->earlierTempPath = TemporaryPath(files, entry->newPath + TempNewSuffix);
  entry->earlierKeepPath = TemporaryPath(files, entry->newPath + TempKeepSuffix);
  return 0;
}

// ReadEntryNames, with memory that runs out failing the entry: nothing has
// been touched yet, so the entry fails cleanly.
int32_t ReadEntry(ByteStream* package, Entry* entry, EntryHead* head, int32_t entriesApplied,
                  ScriptNames* names) {
  try {
    return ReadEntryNames(package, entry, head, entriesApplied, names);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return entry->Fail(ApplyWriteFailed, "the entry's names cannot be held");
  }
}

}  // namespace

int32_t CopyPayload(ByteStream* package, ByteStream* oldFile, ByteStream* newFile) {
  (void)oldFile;
  if (!FilePayloadFits(package)) return ApplyDamaged;
  const uint32_t length = static_cast<uint32_t>(package->ReadU32());
  if (length == 0) return 0;
  // FilePayloadFits has bounded the length by the script, which is in memory;
  // the copy still may not find the memory for a second block of that size.
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length]);
  if (!block) return ApplyWriteFailed;
  const int32_t count = static_cast<int32_t>(length);
  if (package->Read(block.get(), count) != count) return ApplyDamaged;
  if (newFile->Write(block.get(), count) != count) return ApplyWriteFailed;
  return 0;
}

int32_t ApplyPackageEntries(ByteStream* package, const char* folder, ApplyReport* report,
                            PackageFiles* files, int32_t threads) {
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  *report = ApplyReport();
  if (files == nullptr) files = SystemPackageFiles();
  PatientPackageFiles patient(files);
  files = &patient;
  const bool separator = FolderNeedsSeparator(folder);

  if (package->AtEnd() != 0) return ApplyOk;
  ScriptNames names;  // those of the entries so far
  for (;;) {
    Entry entry;
    entry.files = files;
    entry.folder = folder;
    entry.separator = separator;
    entry.threads = threads;
    EntryHead head;
    int32_t result = ReadEntry(package, &entry, &head, report->entriesApplied, &names);
    if (result == EntryEndsScript) return ApplyOk;
    if (result == 0) result = CarryOut(package, &entry);
    if (result != 0) {
      report->failedKind = entry.kind;
      try {
        report->oldName = head.oldName.Text();
        report->newName = head.newName.Text();
      } catch (const std::bad_alloc&) {
        report->oldName.clear();  // the failure is told without its names
        report->newName.clear();
      }
      report->cause = entry.cause;
      report->systemError = entry.systemError;
      return result;
    }
    ++report->entriesApplied;
    if (package->AtEnd() != 0) return ApplyOk;
  }
}
