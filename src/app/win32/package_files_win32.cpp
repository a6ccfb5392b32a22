// The file operations of applying a package, on Win32. The renames and the
// link are the system's, which the runtime does not offer: with them an
// entry keeps the present file under its second name by a hard link before
// the new file replaces it in one step, so the product file is never
// missing, not even for a moment. What stands under a name, and which file
// it is, is asked of the system as well, and files are opened through it and
// then handed to the runtime's streams: the runtime's own look at a path
// takes a last byte 0x5C for a separator even where it is the second byte of
// a double-byte character (一覧表, ソ), and would see the folder instead of
// the file. The flush, the close and the streams stay the runtime's. The
// calls are the wide ones (system_paths_win32.h), so that the applier's own
// temporary files reach the disk in the long form where a plain path would
// be too long.
//
// A virus scanner, the indexer or a product still running may hold a file:
// the step it refuses is reported as FilesInUse, and the applier waits or
// takes the renames a running program's file allows.
//
// Files copied from a CD-ROM often carry the read-only attribute. Windows
// renames such a file, but refuses to remove it (DeleteFileW), to replace it
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING) and to open it for writing,
// and every hard link of it shares the attribute. The attribute is reported
// here and the applier takes its way around it; the only attribute changed
// here is that of the applier's own temporary files, as it asks.
#include <windows.h>

#include <fcntl.h>  // _O_RDONLY, _O_WRONLY, _O_BINARY
#include <io.h>     // _open_osfhandle, _close

#include <cstdio>
#include <string>

#include "app/platform.h"
#include "app/win32/system_paths_win32.h"
#include "package/package_files.h"
#include "stream/byte_stream.h"

namespace {

// Errors that say the volume or the system has no such operation (FAT and
// some network shares have no hard links; 9x has no MoveFileExA), as
// against a failure of this one call.
bool NotAvailable(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SAME_DEVICE;
}

// The result of a rename, replace, link or removal the system refused with
// `error`: FilesInUse when another program has the file open for now (a
// virus scanner or the indexer reading it, the product running from it),
// which the applier waits for; -1 otherwise. Access is denied for other
// reasons too, which no wait mends: by a read-only mark on `markedFile`
// (the file a replace or a removal would end), which the applier takes its
// own road around, or because a folder stands there, which DeleteFileW
// never removes and no rename replaces.
int32_t Refused(DWORD error, const char* markedFile) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return FilesInUse;
  if (error != ERROR_ACCESS_DENIED) return -1;
  if (markedFile == nullptr) return FilesInUse;
  const DWORD attributes = AttributesAt(markedFile);
  const DWORD explained = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & explained) != 0 ? -1 : FilesInUse;
}

// A reparse point that stands for another name (a symbolic link, a
// junction) is no file of the folder's own; others (deduplicated or cloud
// files) are files. FindFirstFileW tells the tag (dwReserved0) of the name
// itself, as GetFileAttributesW tells its attributes, without following.
bool IsNameSurrogate(const char* path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileAt(path, &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  return (found.dwReserved0 & 0x20000000) != 0;  // IsReparseTagNameSurrogate
}

// The attributes that SetFileAttributesW takes; the others (compressed,
// sparse, encrypted and the like) are the system's to keep.
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;

PathState StateOf(const char* path) {
  const DWORD attributes = AttributesAt(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathAbsent;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return PathOther;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsNameSurrogate(path)) return PathOther;
  return PathFile;
}

// A stream over a handle just opened on a disk file, or null (and the
// handle closed).
ByteStream* StreamOver(HANDLE handle, bool forReading) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), (forReading ? _O_RDONLY : _O_WRONLY) | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(descriptor, forReading ? "rb" : "wb");
  if (file == nullptr) {
    _close(descriptor);  // closes the handle with it
    return nullptr;
  }
  FileStream* stream = AdoptFileStream(file, forReading);
  if (stream == nullptr) fclose(file);
  return stream;
}

struct FileNumber {
  BY_HANDLE_FILE_INFORMATION information;
  bool known;
};

// The volume and the file's number there, of the file the path leads to.
FileNumber NumberOf(const char* path) {
  FileNumber number = {};
  HANDLE file =
      CreateFileAt(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return number;
  number.known = GetFileInformationByHandle(file, &number.information) != 0;
  CloseHandle(file);
  return number;
}

class Win32PackageFiles final : public PackageFiles {
 public:
  explicit Win32PackageFiles(PackageFiles* runtime) : runtime_(runtime) {}

  // Looked at first, so that nothing but a file is ever opened. Others may
  // go on reading and writing it, as with the runtime's own open.
  ByteStream* OpenForReading(const char* path) override {
    if (StateOf(path) != PathFile) return nullptr;
    return StreamOver(
        CreateFileAt(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL),
        true);
  }

  // CREATE_NEW fails on any name that is taken; with
  // FILE_FLAG_OPEN_REPARSE_POINT a symbolic link there counts as taken
  // rather than being followed to wherever it leads.
  ByteStream* OpenForWriting(const char* path) override {
    return StreamOver(CreateFileAt(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT),
                      false);
  }

  std::string LongForm(const char* path) override { return LongFormOf(path); }

  int32_t Commit(ByteStream* file) override { return runtime_->Commit(file); }
  int32_t Close(ByteStream* file) override { return runtime_->Close(file); }

  // DeleteFileW removes a symbolic link itself, never its target. It
  // refuses a read-only file; the applier takes the attribute off its own
  // temporary files first, and never removes a product file.
  int32_t Remove(const char* path) override {
    if (DeleteFileAt(path)) return 0;
    return Refused(GetLastError(), path);
  }

  PathState Exists(const char* path) override { return StateOf(path); }

  // GetFileAttributesW tells the attributes of the name itself; a symbolic
  // link is never taken for the file it leads to.
  bool IsReadOnly(const char* path) override {
    const DWORD attributes = AttributesAt(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           StateOf(path) == PathFile;
  }

  // Every other attribute stays as it is. FILE_ATTRIBUTE_NORMAL stands for
  // none at all, and is valid only alone.
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    if (StateOf(path) != PathFile) return -1;
    const DWORD attributes = AttributesAt(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    DWORD wanted = attributes & SettableAttributes;
    wanted = readOnly ? (wanted | FILE_ATTRIBUTE_READONLY)
                      : (wanted & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return SetAttributesAt(path, wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL) ? 0 : -1;
  }

  FileIdentity Identity(const char* one, const char* other) override {
    const FileNumber first = NumberOf(one);
    const FileNumber second = NumberOf(other);
    if (!first.known || !second.known) return FilesApart;
    const BY_HANDLE_FILE_INFORMATION& a = first.information;
    const BY_HANDLE_FILE_INFORMATION& b = second.information;
    if (a.dwVolumeSerialNumber != b.dwVolumeSerialNumber || a.nFileIndexHigh != b.nFileIndexHigh ||
        a.nFileIndexLow != b.nFileIndexLow) {
      return FilesApart;
    }
    // Two names of their own only when the file has more than one and
    // neither path is a link (StateOf sees the name itself).
    if (a.nNumberOfLinks > 1 && StateOf(one) == PathFile && StateOf(other) == PathFile) return FilesLinked;
    return FilesOneName;
  }

  // MoveFileExW without flags never replaces an existing file. A read-only file is renamed
  // as any other, and keeps its attribute.
  int32_t Rename(const char* from, const char* to) override {
    if (MoveFileAt(from, to, 0)) return 0;
    return Refused(GetLastError(), nullptr);
  }

  // CreateHardLinkW refuses a name that is taken.
  int32_t Link(const char* present, const char* second) override {
    if (CreateHardLinkAt(second, present)) return 0;
    const DWORD error = GetLastError();
    return NotAvailable(error) ? FilesCannot : Refused(error, nullptr);
  }

  // Refused (access denied) when the file under `to` is read-only; the
  // applier never asks that.
  int32_t Replace(const char* from, const char* to) override {
    if (MoveFileAt(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD error = GetLastError();
    return NotAvailable(error) ? FilesCannot : Refused(error, to);
  }

 private:
  PackageFiles* runtime_;
};

}  // namespace

PackageFiles* PlatformPackageFiles() {
  static Win32PackageFiles files(SystemPackageFiles());
  return &files;
}
