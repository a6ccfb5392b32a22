// The file operations of applying a package, on Win32. The renames and the
// link are the system's, which the runtime does not offer: with them an
// entry keeps the present file under its second name by a hard link before
// the new file replaces it in one step, so the product file is never
// missing, not even for a moment. What stands under a name, and which file
// it is, is asked of the system as well, and files are opened through it and
// then handed to the runtime's streams: the runtime's own look at a path
// takes a last byte 0x5C for a separator even where it is the second byte of
// a double-byte character (一覧表, ソ), and would see the folder instead of
// the file. The flush, the close and the streams stay the runtime's.
//
// Files copied from a CD-ROM often carry the read-only attribute. Windows
// renames such a file, but refuses to remove it (DeleteFileA), to replace it
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING) and to open it for writing,
// and every hard link of it shares the attribute. The attribute is reported
// here and the applier takes its way around it; the only attribute changed
// here is that of the applier's own temporary files, as it asks.
#include <windows.h>

#include <fcntl.h>  // _O_RDONLY, _O_WRONLY, _O_BINARY
#include <io.h>     // _open_osfhandle, _close

#include <cstdio>

#include "app/platform.h"
#include "package/package_files.h"
#include "stream/byte_stream.h"

namespace {

using CreateHardLinkFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);

// Looked up at run time: the Windows 9x family has no hard links, and a
// program that imported the function would not even start there.
CreateHardLinkFunction FindCreateHardLink() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<CreateHardLinkFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreateHardLinkA")));
}

// Errors that say the volume or the system has no such operation (FAT and
// some network shares have no hard links; 9x has no MoveFileExA), as
// against a failure of this one call.
bool NotAvailable(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SAME_DEVICE;
}

// A reparse point that stands for another name (a symbolic link, a
// junction) is no file of the folder's own; others (deduplicated or cloud
// files) are files. FindFirstFileA tells the tag (dwReserved0) of the name
// itself, as GetFileAttributesA tells its attributes, without following.
bool IsNameSurrogate(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  return (found.dwReserved0 & 0x20000000) != 0;  // IsReparseTagNameSurrogate
}

// The attributes that SetFileAttributesA takes; the others (compressed,
// sparse, encrypted and the like) are the system's to keep.
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;

PathState StateOf(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
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
      CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return number;
  number.known = GetFileInformationByHandle(file, &number.information) != 0;
  CloseHandle(file);
  return number;
}

class Win32PackageFiles final : public PackageFiles {
 public:
  explicit Win32PackageFiles(PackageFiles* runtime)
      : runtime_(runtime), createHardLink_(FindCreateHardLink()) {}

  // Looked at first, so that nothing but a file is ever opened. Others may
  // go on reading and writing it, as with the runtime's own open.
  ByteStream* OpenForReading(const char* path) override {
    if (StateOf(path) != PathFile) return nullptr;
    return StreamOver(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                      true);
  }

  // CREATE_NEW fails on any name that is taken; with
  // FILE_FLAG_OPEN_REPARSE_POINT a symbolic link there counts as taken
  // rather than being followed to wherever it leads.
  ByteStream* OpenForWriting(const char* path) override {
    return StreamOver(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                      false);
  }

  int32_t Commit(ByteStream* file) override { return runtime_->Commit(file); }
  int32_t Close(ByteStream* file) override { return runtime_->Close(file); }

  // DeleteFileA removes a symbolic link itself, never its target. It
  // refuses a read-only file; the applier takes the attribute off its own
  // temporary files first, and never removes a product file.
  int32_t Remove(const char* path) override { return DeleteFileA(path) ? 0 : -1; }

  PathState Exists(const char* path) override { return StateOf(path); }

  // GetFileAttributesA tells the attributes of the name itself; a symbolic
  // link is never taken for the file it leads to.
  bool IsReadOnly(const char* path) override {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           StateOf(path) == PathFile;
  }

  // Every other attribute stays as it is. FILE_ATTRIBUTE_NORMAL stands for
  // none at all, and is valid only alone.
  int32_t MarkReadOnly(const char* path, bool readOnly) override {
    if (StateOf(path) != PathFile) return -1;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    DWORD wanted = attributes & SettableAttributes;
    wanted = readOnly ? (wanted | FILE_ATTRIBUTE_READONLY)
                      : (wanted & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return SetFileAttributesA(path, wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL) ? 0 : -1;
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

  // MoveFileA never replaces an existing file. A read-only file is renamed
  // as any other, and keeps its attribute.
  int32_t Rename(const char* from, const char* to) override { return MoveFileA(from, to) ? 0 : -1; }

  // CreateHardLinkA refuses a name that is taken.
  int32_t Link(const char* present, const char* second) override {
    if (createHardLink_ == nullptr) return FilesCannot;
    if (createHardLink_(second, present, nullptr)) return 0;
    return NotAvailable(GetLastError()) ? FilesCannot : -1;
  }

  // Refused (access denied) when the file under `to` is read-only; the
  // applier never asks that.
  int32_t Replace(const char* from, const char* to) override {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return NotAvailable(GetLastError()) ? FilesCannot : -1;
  }

 private:
  PackageFiles* runtime_;
  CreateHardLinkFunction createHardLink_;
};

}  // namespace

PackageFiles* PlatformPackageFiles() {
  static Win32PackageFiles files(SystemPackageFiles());
  return &files;
}
