#include "package/package_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stream/byte_stream.h"
#include "thread/worker_thread.h"

#ifdef _WIN32
#include <fcntl.h>  // _O_CREAT, _O_EXCL
#include <io.h>     // _open, _close
#else
#include <fcntl.h>   // AT_FDCWD, open, fcntl
#include <unistd.h>  // link, unlink, fsync
#endif

namespace {

// A rename or link lives in the folder's own record, which the file's flush
// does not write; without this a power cut soon after could bring back the
// folder as it was before, with the new file under no name at all. Windows
// has no such call for folders: its moves are made write-through instead.
// The name change has happened either way, so a failed flush is not reported
// as a failed move.
void FlushFolderOf(const char* path) {
#ifdef _WIN32
  (void)path;
#else
  // The folder's path is copied into a fixed block: the move it follows has
  // been made, and nothing may fail for want of memory now. A folder path
  // too long for the block is left to the system's own flushing.
  char folder[4096];
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else if (slash == path) {
    std::strcpy(folder, "/");
  } else {
    const size_t length = static_cast<size_t>(slash - path);
    if (length >= sizeof folder) return;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
  }
  const int handle = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle < 0) return;
  fsync(handle);
  close(handle);
#endif
}

int32_t FlushedIfDone(int32_t result, const char* path) {
  if (result == 0) FlushFolderOf(path);
  return result;
}

}  // namespace

int32_t RenameNoReplace(const char* from, const char* to) {
#ifdef _WIN32
  // The runtime's rename is MoveFile without the replace flag: it refuses an
  // existing target by itself. The look beforehand only keeps a runtime that
  // behaved otherwise from ever replacing a product file.
  struct stat info;
  if (stat(to, &info) == 0 || errno == EOVERFLOW) return -1;
  return rename(from, to) == 0 ? 0 : -1;
#else
  // POSIX rename replaces silently, so the move is made in a way that fails
  // on an existing target: the kernel's no-replace rename where there is one,
  // otherwise a second link and the removal of the first.
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#endif
  if (link(from, to) != 0) return -1;
  if (unlink(from) != 0) {
    unlink(to);  // keep one name only, as a failed rename would
    return -1;
  }
  return 0;
#endif
}

int32_t LinkFile(const char* present, const char* second) {
#ifdef _WIN32
  // Hard links need the Win32 API, which this layer does not use.
  (void)present;
  (void)second;
  return FilesCannot;
#else
  if (link(present, second) == 0) return 0;
  // A file system without hard links (FAT, some network shares) says so in
  // one of these ways; the caller then renames instead.
  if (errno == EPERM || errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP) return FilesCannot;
  return -1;
#endif
}

int32_t RenameReplacing(const char* from, const char* to) {
#ifdef _WIN32
  // The runtime's rename refuses an existing target.
  (void)from;
  (void)to;
  return FilesCannot;
#else
  return rename(from, to) == 0 ? 0 : -1;
#endif
}

namespace {

#ifndef _WIN32
// A stream over a descriptor just opened, or null (and the descriptor
// closed).
ByteStream* StreamOver(int handle, bool forReading) {
  if (handle < 0) return nullptr;
  FILE* file = fdopen(handle, forReading ? "rb" : "wb");
  if (file == nullptr) {
    close(handle);
    return nullptr;
  }
  FileStream* stream = AdoptFileStream(file, forReading);
  if (stream == nullptr) fclose(file);
  return stream;
}
#endif

ByteStream* OpenRegularForReading(const char* path) {
#ifdef _WIN32
  // The runtime has no way to open without waiting; Windows folders hold no
  // FIFOs, and the names that Windows opens as devices are refused before.
  struct stat info;
  if (stat(path, &info) == 0) {
    if ((info.st_mode & S_IFMT) != S_IFREG) return nullptr;
  } else if (errno != EOVERFLOW) {
    return nullptr;  // a file too large for the record is still a file
  }
  return OpenFileStream(path, true);
#else
  // Looked at before the open, so that no device is opened at all, and again
  // through the descriptor, opened without waiting for a FIFO's writer, for
  // whatever took the name in between.
  struct stat before;
  if (stat(path, &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
  const int handle = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (handle < 0) return nullptr;
  struct stat opened;
  const int flags = fcntl(handle, F_GETFL);
  if (fstat(handle, &opened) != 0 || !S_ISREG(opened.st_mode) || flags < 0 ||
      fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(handle);
    return nullptr;
  }
  return StreamOver(handle, true);
#endif
}

// A file that was made but got no stream (no memory for one) is removed
// again, so that a failed creation leaves no empty file behind; errno still
// tells why it failed.
ByteStream* Unmade(const char* path) {
  const int error = errno;
  std::remove(path);
  errno = error;
  return nullptr;
}

ByteStream* CreateForWriting(const char* path) {
#ifdef _WIN32
  const int handle =
      _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (handle < 0) return nullptr;
  FILE* file = _fdopen(handle, "wb");
  if (file == nullptr) {
    _close(handle);
    return Unmade(path);
  }
  FileStream* stream = AdoptFileStream(file, false);
  if (stream == nullptr) {
    fclose(file);
    return Unmade(path);
  }
  return stream;
#else
  // O_EXCL refuses any name that is taken, a link included, wherever it
  // leads; O_NOFOLLOW says the same once more.
  const int handle = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  if (handle < 0) return nullptr;
  ByteStream* stream = StreamOver(handle, false);
  return stream != nullptr ? stream : Unmade(path);
#endif
}

// Read-only is a regular file without its owner's write permission here, and
// Windows' read-only attribute as the runtime reports it there; the applier
// then takes the same road on both. A link is looked at itself, never
// followed, so that no mark of a file it leads to is ever changed.
bool ReadOnlyFile(const char* path) {
#ifdef _WIN32
  struct _stat info;
  return _stat(path, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG && (info.st_mode & _S_IWRITE) == 0;
#else
  struct stat info;
  return lstat(path, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0;
#endif
}

int32_t MarkFileReadOnly(const char* path, bool readOnly) {
#ifdef _WIN32
  struct _stat info;
  if (_stat(path, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return _chmod(path, readOnly ? _S_IREAD : _S_IREAD | _S_IWRITE) == 0 ? 0 : -1;
#else
  // Only the owner's write permission changes, so that putting the mark
  // back gives the mode the file had.
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const mode_t ownerWrite = S_IWUSR;
  const mode_t mode = readOnly ? (info.st_mode & ~ownerWrite) : (info.st_mode | ownerWrite);
  return chmod(path, mode & 07777) == 0 ? 0 : -1;
#endif
}

// Streams handed out here are always FileStreams.
class SystemFiles final : public PackageFiles {
 public:
  ByteStream* OpenForReading(const char* path) override { return OpenRegularForReading(path); }
  ByteStream* OpenForWriting(const char* path) override { return CreateForWriting(path); }
  int32_t Commit(ByteStream* file) override { return static_cast<FileStream*>(file)->Commit(); }
  int32_t Close(ByteStream* file) override { return static_cast<FileStream*>(file)->Close(); }
  int32_t Rename(const char* from, const char* to) override {
    return FlushedIfDone(RenameNoReplace(from, to), to);
  }
  int32_t Link(const char* present, const char* second) override {
    return FlushedIfDone(LinkFile(present, second), second);
  }
  int32_t Replace(const char* from, const char* to) override {
    return FlushedIfDone(RenameReplacing(from, to), to);
  }
  int32_t Remove(const char* path) override { return std::remove(path) == 0 ? 0 : -1; }
  bool IsReadOnly(const char* path) override { return ReadOnlyFile(path); }
  int32_t MarkReadOnly(const char* path, bool readOnly) override { return MarkFileReadOnly(path, readOnly); }
  PathState Exists(const char* path) override {
    struct stat info;
    if (stat(path, &info) != 0) {
      // A file too large for the runtime's stat record is still a file.
      if (errno == EOVERFLOW) return PathFile;
#ifndef _WIN32
      // A link whose target is missing still takes the name.
      if (lstat(path, &info) == 0) return PathOther;
#endif
      return PathAbsent;
    }
    return (info.st_mode & S_IFMT) == S_IFREG ? PathFile : PathOther;
  }
  FileIdentity Identity(const char* one, const char* other) override {
#ifdef _WIN32
    // The runtime's stat has no file numbers on Windows.
    (void)one;
    (void)other;
    return FilesApart;
#else
    struct stat first, second;
    if (stat(one, &first) != 0 || stat(other, &second) != 0) return FilesApart;
    if (first.st_dev != second.st_dev || first.st_ino != second.st_ino) return FilesApart;
    // Two names of one file are two links of their own only when neither
    // path is itself a link and the file counts more names than one.
    struct stat firstName, secondName;
    if (lstat(one, &firstName) == 0 && lstat(other, &secondName) == 0 && S_ISREG(firstName.st_mode) &&
        S_ISREG(secondName.st_mode) && firstName.st_nlink > 1) {
      return FilesLinked;
    }
    return FilesOneName;
#endif
  }
};

}  // namespace

void PackageFiles::Pause(int32_t milliseconds) { PauseThread(milliseconds); }

std::string PackageFiles::LongForm(const char* path) {
  (void)path;
  return std::string();
}

PackageFiles* SystemPackageFiles() {
  static SystemFiles files;
  return &files;
}
