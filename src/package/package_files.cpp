#include "package/package_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "stream/byte_stream.h"

#ifndef _WIN32
#include <fcntl.h>   // AT_FDCWD, open
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
  const char* slash = std::strrchr(path, '/');
  const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
  const int handle = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

// Streams handed out here are always FileStreams made by OpenFileStream.
class SystemFiles final : public PackageFiles {
 public:
  ByteStream* OpenForReading(const char* path) override { return OpenFileStream(path, true); }
  ByteStream* OpenForWriting(const char* path) override { return OpenFileStream(path, false); }
  int32_t Commit(ByteStream* file) override { return static_cast<FileStream*>(file)->Commit(); }
  int32_t Close(ByteStream* file) override { return static_cast<FileStream*>(file)->Close(); }
  int32_t Rename(const char* from, const char* to) override { return FlushedIfDone(RenameNoReplace(from, to), to); }
  int32_t Link(const char* present, const char* second) override {
    return FlushedIfDone(LinkFile(present, second), second);
  }
  int32_t Replace(const char* from, const char* to) override { return FlushedIfDone(RenameReplacing(from, to), to); }
  int32_t Remove(const char* path) override { return std::remove(path) == 0 ? 0 : -1; }
  PathState Exists(const char* path) override {
    struct stat info;
    if (stat(path, &info) != 0) {
      // A file too large for the runtime's stat record is still a file.
      return errno == EOVERFLOW ? PathFile : PathAbsent;
    }
    return (info.st_mode & S_IFMT) == S_IFREG ? PathFile : PathOther;
  }
};

}  // namespace

PackageFiles* SystemPackageFiles() {
  static SystemFiles files;
  return &files;
}
