// The file operations of applying a package, on Win32: the streams, the
// flush, the removal and the look at a path stay the package step's own
// (the C runtime); the renames and the link are the system's, which the
// runtime does not offer. With them an entry keeps the present file under
// its second name by a hard link before the new file replaces it in one
// step, so the product file is never missing, not even for a moment.
#include <windows.h>

#include "app/platform.h"
#include "package/package_files.h"

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

class Win32PackageFiles final : public PackageFiles {
 public:
  explicit Win32PackageFiles(PackageFiles* runtime)
      : runtime_(runtime), createHardLink_(FindCreateHardLink()) {}

  ByteStream* OpenForReading(const char* path) override { return runtime_->OpenForReading(path); }
  ByteStream* OpenForWriting(const char* path) override { return runtime_->OpenForWriting(path); }
  int32_t Commit(ByteStream* file) override { return runtime_->Commit(file); }
  int32_t Close(ByteStream* file) override { return runtime_->Close(file); }
  int32_t Remove(const char* path) override { return runtime_->Remove(path); }
  PathState Exists(const char* path) override { return runtime_->Exists(path); }

  // MoveFileA never replaces an existing file.
  int32_t Rename(const char* from, const char* to) override {
    return MoveFileA(from, to) ? 0 : -1;
  }

  // CreateHardLinkA refuses a name that is taken.
  int32_t Link(const char* present, const char* second) override {
    if (createHardLink_ == nullptr) return FilesCannot;
    if (createHardLink_(second, present, nullptr)) return 0;
    return NotAvailable(GetLastError()) ? FilesCannot : -1;
  }

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
